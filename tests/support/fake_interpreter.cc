// Stands in for the command interpreter that ComSpec names, on every
// system: given "/C wmic csproduct get uuid > <file>", it records its
// arguments beside <file> and then does what the files there ask for:
//   uuid-bytes  copy them to <file>, in two halves a moment apart, so that
//               a reader that does not wait for the end sees half of them
//   list-fds    list its open descriptors into "fds" (POSIX)
//   hang        write its process id into "pid" and never end
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <dirent.h>
#include <unistd.h>
#else
#include <process.h>
#endif

namespace {

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void ListDescriptors(const std::string& out_path) {
#if !defined(_WIN32)
  std::string list;
  DIR* dir = opendir("/proc/self/fd");
  while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
    char target[512] = {};
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    if (entry->d_name[0] == '.' || readlink(link.c_str(), target, sizeof(target) - 1) < 0) continue;
    list += std::string(entry->d_name) + " " + target + "\n";
  }
  if (dir != nullptr) closedir(dir);
  std::ofstream(out_path) << list;
#else
  (void)out_path;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 8) return 2;
  const std::string output = argv[7];
  const std::string dir = output.substr(0, output.find_last_of("/\\") + 1);
  std::ofstream record(dir + "arguments", std::ios::binary);
  for (int i = 1; i < argc; ++i) record << argv[i] << "|";
  record.close();
  if (Exists(dir + "list-fds")) ListDescriptors(dir + "fds");
  if (Exists(dir + "hang")) {
#if defined(_WIN32)
    std::ofstream(dir + "pid") << _getpid();
#else
    std::ofstream(dir + "pid") << getpid();
#endif
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (Exists(dir + "uuid-bytes")) {
    const std::string bytes = Read(dir + "uuid-bytes");
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << bytes.substr(0, bytes.size() / 2) << std::flush;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    out << bytes.substr(bytes.size() / 2);
  }
  return 0;
}
