// Stands in for the command interpreter that ComSpec names, on every
// system: given "/C wmic csproduct get uuid > <file>", it records its
// arguments beside <file> and then does what the files there ask for:
//   list-fds    list its open descriptors into "fds" (POSIX)
//   hang        write its process id into "pid" and never end
//   uuid-bytes  copy them to <file>, in two halves a moment apart, so that
//               a reader that does not wait for the end sees half of them
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
#define getpid _getpid
#endif

int main(int argc, char** argv) {
  if (argc < 8) return 2;
  const std::string output = argv[7];
  const std::string dir = output.substr(0, output.find_last_of("/\\") + 1);
  std::ofstream record(dir + "arguments", std::ios::binary);
  for (int i = 1; i < argc; ++i) record << argv[i] << "|";
  record.close();
#if !defined(_WIN32)
  if (std::ifstream(dir + "list-fds")) {
    std::string list;
    DIR* fds = opendir("/proc/self/fd");
    while (dirent* entry = fds != nullptr ? readdir(fds) : nullptr) {
      char target[512] = {};
      const std::string link = std::string("/proc/self/fd/") + entry->d_name;
      if (entry->d_name[0] == '.' || readlink(link.c_str(), target, sizeof(target) - 1) < 0)
        continue;
      list += std::string(entry->d_name) + " " + target + "\n";
    }
    if (fds != nullptr) closedir(fds);
    std::ofstream(dir + "fds") << list;
  }
#endif
  if (std::ifstream(dir + "hang")) {
    std::ofstream(dir + "pid") << getpid();
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  std::ifstream in(dir + "uuid-bytes", std::ios::binary);
  if (in) {
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << bytes.substr(0, bytes.size() / 2) << std::flush;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    out << bytes.substr(bytes.size() / 2);
  }
  return 0;
}
