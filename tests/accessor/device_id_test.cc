#include "accessor/DeviceId.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tests/accessor/RunnerFixture.h"

namespace vanta {
namespace {

using Status = platform::AdapterAddress::Status;
using Failure = DeviceIdFailure;

class DeviceIdTest : public testing::RunnerTest {};

TEST_F(DeviceIdTest, BuildsFromTheUuidFileAndTheFirstAdapter) {
  // 100 header characters: the 127-byte line read stops inside them, and
  // the kept bytes are header characters 64 to 99.
  std::string header;
  for (int i = 0; i < 100; ++i) header += static_cast<char>('A' + i % 26);
  const std::string normal = "\xFF\xFE" + testing::Utf16("UUID  \r\n" + std::string(kUuid));
  const std::string uuid = kUuid;
  struct Row {
    std::optional<std::string> uuid_bytes;
    int length;  // of the scripted address
    Status status;
    const char* prefix;
    int size;
    Failure failure;  // kNone: built
    std::string expected;
  } rows[] = {
      {normal, 6, Status::kOk, "", 55, Failure::kNone, ExpectedDeviceId()},
      {normal, 8, Status::kOk, "", 55, Failure::kNone, ExpectedDeviceId()},  // cut to 17
      {normal, 0, Status::kOk, "", 55, Failure::kNone, uuid + "-"},
      {normal, 6, Status::kOk, "ab", 12, Failure::kNone, "ab4C4C4544-"},
      {testing::Utf16(header + "\r\n" + uuid), 6, Status::kOk, "", 55, Failure::kNone,
       header.substr(64, 36) + "-" + kAddress},
      {testing::Utf16("UUID\r\n4C4C"), 2, Status::kOk, "", 55, Failure::kNone, "4C4C-00-1A"},
      {std::nullopt, 6, Status::kOk, "x", 55, Failure::kUuidFileUnreadable, "x"},
      {normal, 6, Status::kUnreadable, "x", 55, Failure::kAdapterListUnreadable, "x"},
      {normal, 6, Status::kBufferUnavailable, "x", 55, Failure::kAdapterBufferUnavailable, "x"},
  };
  for (const Row& row : rows) {
    SetUuidFileBytes(row.uuid_bytes);
    adapter.status = row.status;
    adapter.length = row.length;
    adapter.bytes[6] = 0x6F;
    adapter.bytes[7] = 0x7F;
    char buffer[55] = {};
    std::strcpy(buffer, row.prefix);
    Failure failure = Failure::kProcessNotStarted;
    EXPECT_EQ(CreateDeviceIdText(buffer, row.size, &failure), row.failure == Failure::kNone)
        << row.expected;
    EXPECT_EQ(failure, row.failure) << row.expected;
    EXPECT_EQ(std::string(buffer), row.expected);
  }
  EXPECT_EQ(ReadTempFile("arguments"), "/C|wmic|csproduct|get|uuid|>|" + dir_ + "/id.tmp|");
  testing::ScopedEnv missing("ComSpec", dir_ + "/no-such-interpreter");
  Failure failure = Failure::kNone;
  char buffer[55] = {};
  EXPECT_FALSE(CreateDeviceIdText(buffer, sizeof(buffer), &failure));
  EXPECT_EQ(failure, Failure::kProcessNotStarted);
}

// Without ComSpec the library writes the UUID file itself from the
// machine's identity, upper case in 8-4-4-4-12 form; the real first adapter
// is the one of lowest interface index that is not loopback (flag 0x8) and
// has a hardware address.
TEST_F(DeviceIdTest, MachineIdentityAndRealAdapter) {
  testing::ScopedEnv no_interpreter("ComSpec", std::nullopt);
  SetAdapterSourceForTesting(nullptr);
  std::string id;
  std::ifstream("/sys/class/dmi/id/product_uuid") >> id;
  if (id.size() != 36 && (std::ifstream("/etc/machine-id") >> id) && id.size() == 32) {
    for (size_t dash : {8, 13, 18, 23}) id.insert(dash, "-");
  }
  int best_index = 0;
  std::string address;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net")) {
    unsigned flags = 0;
    int index = 0;
    std::string text;
    std::ifstream(entry.path() / "flags") >> std::hex >> flags;
    std::ifstream(entry.path() / "ifindex") >> index;
    std::ifstream(entry.path() / "address") >> text;
    if ((flags & 0x8) != 0 || text.empty() || (!address.empty() && index > best_index)) continue;
    best_index = index;
    address = text;
  }
  const bool built = id.size() == 36 && !address.empty();
  std::string expected = built ? id + "-" + address.substr(0, 17) : "";
  for (char& c : expected) c = c == ':' ? '-' : static_cast<char>(std::toupper(c));
  char buffer[55] = {};
  EXPECT_EQ(CreateDeviceIdText(buffer, sizeof(buffer), nullptr), built);
  EXPECT_EQ(std::string(buffer), expected);
}

}  // namespace
}  // namespace vanta
