// The reader of the UUID query's output file on arbitrary file contents:
// an existing file is always read, the UUID text never passes its 36
// characters, and the same file always gives the same text.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "accessor/DeviceId.h"
#include "fuzz/Invariant.h"

namespace {

std::string directory;

void RemoveDirectory() {
  std::remove((directory + "/id.tmp").c_str());
  rmdir(directory.c_str());
}

// A file of this process's own, rewritten for every input; in memory where
// the system offers it, since a disk file costs most of each execution.
const std::string& InputPath() {
  static const std::string path = [] {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    pattern += "/vanta-uuid-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) std::abort();
    directory = pattern;
    std::atexit(RemoveDirectory);
    return directory + "/id.tmp";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  VANTA_FUZZ_CHECK(file != nullptr);
  VANTA_FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
  std::fclose(file);

  char first[37] = {};
  char second[37] = {};
  VANTA_FUZZ_CHECK(vanta::ReadUuidFile(path, first));
  VANTA_FUZZ_CHECK(vanta::ReadUuidFile(path, second));
  VANTA_FUZZ_CHECK(first[36] == '\0');
  VANTA_FUZZ_CHECK(std::memcmp(first, second, sizeof(first)) == 0);
  return 0;
}
