#include "platform/Platform.h"

#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#if defined(__linux__)
#include <netpacket/packet.h>
#endif

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace vanta {
namespace platform {

std::optional<std::string> ReadEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string TempDirectory() {
  for (const char* name : {"TEMP", "TMPDIR"}) {
    std::optional<std::string> value = ReadEnvironment(name);
    if (value && !value->empty()) return *value;
  }
  return "/tmp";
}

bool NarrowToWide(const std::string& text, std::wstring* wide) {
  if (text.size() >= static_cast<size_t>(kMaxWideText)) return false;
  wide->assign(text.begin(), text.end());
  for (wchar_t& c : *wide) c = static_cast<wchar_t>(static_cast<unsigned char>(c));
  return true;
}

bool RunProcessAndWait(const std::wstring& command_line) {
  std::vector<std::string> words;
  std::string word;
  for (wchar_t c : command_line) {
    if (c < 0 || c > UCHAR_MAX || c == 0) return false;
    if (c == L' ' || c == L'\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(c));
    }
  }
  if (!word.empty()) words.push_back(word);
  if (words.empty()) return false;

  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

AdapterAddress FirstAdapterAddress() {
  AdapterAddress first;
#if defined(__linux__)
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    if (errno == ENOMEM) first.status = AdapterAddress::Status::kBufferUnavailable;
    return first;
  }
  int first_index = 0;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    if ((entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const sockaddr_ll* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    if (link->sll_halen == 0) continue;
    if (first.status == AdapterAddress::Status::kOk && link->sll_ifindex >= first_index) continue;
    first_index = link->sll_ifindex;
    first.status = AdapterAddress::Status::kOk;
    first.length = link->sll_halen < sizeof(first.bytes) ? link->sll_halen : sizeof(first.bytes);
    std::memcpy(first.bytes, link->sll_addr, static_cast<size_t>(first.length));
  }
  freeifaddrs(list);
#endif
  return first;
}

}  // namespace platform
}  // namespace vanta
