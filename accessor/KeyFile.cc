#include "accessor/KeyFile.h"

#include "platform/Env.h"
#include "platform/TempDir.h"

namespace vanta {

namespace {

const char kKeyFileName[] = "key.tmp";
// A 128-byte line read keeps at most 127 bytes.
constexpr size_t kLineLimit = 127;

}  // namespace

bool WriteKeyFile(const std::string& value, std::string* where) {
  const TempDir dir = TempDirectory();
  const std::string path = dir.File(kKeyFileName);
  FileResult result = FileResult::kFailed;
  if (dir.usable()) result = Env::Get()->ReplaceFile(path, value);
  if (where != nullptr) {
    *where = !dir.usable()                          ? path + " (" + dir.refusal + ")"
             : result == FileResult::kOfAnotherUser ? path + " belongs to another user"
                                                    : path;
  }
  return result == FileResult::kOk;
}

bool ReadKeyFile(std::string* text) {
  const TempDir dir = TempDirectory();
  std::string data;
  if (!dir.usable() ||
      Env::Get()->ReadFile(dir.File(kKeyFileName), kLineLimit, &data) != FileResult::kOk) {
    return false;
  }
  size_t end = data.find('\n');
  if (end != std::string::npos) data.resize(end + 1);
  *text = data.substr(0, data.find('\0'));
  return true;
}

}  // namespace vanta
