#include "tests/accessor/RunnerFixture.h"

#include <picojson.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>

namespace vanta {
namespace testing {

std::string Utf16(const std::string& text) {
  std::string out;
  for (char c : text) out += std::string(1, c) + '\0';
  return out;
}

bool ProcessEnded(int pid) {
#if defined(_WIN32)
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return true;
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
#else
  if (kill(pid, 0) != 0) return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string number, command, state;
  return stat >> number >> command >> state && state == "Z";
#endif
}

void RunnerTest::SetUp() {
  const auto base = std::filesystem::temp_directory_path();
  for (int i = 0; dir_.empty() || !std::filesystem::create_directory(dir_); ++i) {
    ASSERT_LT(i, 100);
    dir_ = (base / ("vanta-runner-" + std::to_string(std::rand()))).string();
  }
  env_.SetVariable("TEMP", dir_);
  env_.SetVariable("ComSpec", VANTA_FAKE_INTERPRETER);
  env_.adapter =
      AdapterAddress{AdapterAddress::Status::kOk, 6, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}};
  SetUuidBytes("\xFF\xFE" + Utf16("UUID  \r\n" + std::string(kUuid) + "  \r\n"));
  NewPeer();
}

void RunnerTest::TearDown() {
  peer_.reset();
  std::filesystem::remove_all(dir_);
}

LocalPeer& RunnerTest::NewPeer() {
  peer_.reset();
  peer_ = std::make_unique<LocalPeer>();
  for (const auto& [path, answer] : kAllOk) peer_->SetAnswer(path, answer);
  env_.web_api_origin = peer_->Url("");
  return *peer_;
}

void RunnerTest::Start(WebServiceAccessor& accessor, bool token_first) {
  ASSERT_EQ(accessor.Initialize(3, "t0", peer_->Url("/dispatcher/").c_str(), 5, 6, "game",
                                token_first, "k0", 1, 0, 1, 0, 1, 601),
            WS_SUCCESS);
  env_.ClearSleeps();
  trace_.Clear();
  ASSERT_EQ(accessor.Start(), WS_SUCCESS);
}

void RunnerTest::SetUuidBytes(const std::optional<std::string>& bytes) {
  std::filesystem::remove(TempPath("uuid-bytes"));
  if (bytes) WriteTemp("uuid-bytes", *bytes);
}

std::string RunnerTest::TempPath(const std::string& name) const {
  return (std::filesystem::path(dir_) / name).string();
}

std::optional<std::string> RunnerTest::ReadTemp(const std::string& name) const {
  std::ifstream in(TempPath(name), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void RunnerTest::WriteTemp(const std::string& name, const std::string& text) const {
  std::ofstream(TempPath(name), std::ios::binary) << text;
}

std::vector<std::string> RunnerTest::Sent(const std::string& path, const std::string& key) const {
  std::vector<std::string> values;
  for (const RecordedRequest& request : peer_->RequestsTo(path)) {
    picojson::value body;
    picojson::parse(body, request.body);
    values.push_back(body.get(key).to_str());
  }
  return values;
}

std::vector<unsigned> RunnerTest::WaitsBefore(size_t n) {
  const std::vector<unsigned> all{2000, 3000};
  return std::vector<unsigned>(all.begin(), all.begin() + (n > 1 ? n - 1 : 0));
}

std::vector<std::string> RunnerTest::Results() const {
  std::vector<std::string> results;
  for (const std::string& line : trace_.With("negotiation ended: ")) {
    results.push_back(line.substr(line.find(": ") + 2));
  }
  return results;
}

}  // namespace testing
}  // namespace vanta
