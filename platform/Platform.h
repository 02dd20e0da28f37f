// The few operating system services that the negotiation runner needs, one
// implementation per system family (posix/, win32/).
#ifndef VANTA_PLATFORM_PLATFORM_H_
#define VANTA_PLATFORM_PLATFORM_H_

#include <optional>
#include <string>

namespace vanta {
namespace platform {

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Wide texts (command lines) hold at most this many characters including
// the terminator.
constexpr int kMaxWideText = 256;

// A copy of the environment variable, or nullopt when it is not set.
std::optional<std::string> ReadEnvironment(const char* name);

// The directory for the library's temporary files, without a final
// separator. POSIX: TEMP, else TMPDIR, else /tmp (empty values count as
// unset). Windows: TEMP ("" when unset).
std::string TempDirectory();

// TempDirectory(), the separator, then name.
inline std::string TempFilePath(const char* name) {
  return TempDirectory() + kPathSeparator + name;
}

// Converts text to wide text. False, with *wide untouched, when the text
// cannot be converted or needs more than kMaxWideText - 1 characters.
// POSIX keeps each byte as one wide character of the same value, so that
// the text comes back byte for byte where it is passed to the system.
bool NarrowToWide(const std::string& text, std::wstring* wide);

// Starts the program that the command line names, hidden and with nothing
// inherited but the environment and directory, and waits without limit for
// it to end. False when it could not be started; the exit status is not
// looked at. POSIX splits the line at blanks and uses no shell.
bool RunProcessAndWait(const std::wstring& command_line);

// The hardware address of the first network adapter: Windows' first entry
// of the adapter list; POSIX the first interface in interface-index order
// that is not loopback and has a hardware address.
struct AdapterAddress {
  enum class Status { kOk, kBufferUnavailable, kUnreadable };
  Status status = Status::kUnreadable;
  int length = 0;  // 0 to 8 bytes
  unsigned char bytes[8] = {};
};
AdapterAddress FirstAdapterAddress();

// Writes the UUID file that the hardware UUID query writes (UTF-16 little
// endian: a header line, then the UUID in upper-case 8-4-4-4-12 form), for
// systems without that query. False when no hardware UUID can be read or
// the file cannot be written; Windows always answers false.
bool WriteUuidFile(const std::string& path);

}  // namespace platform
}  // namespace vanta

#endif  // VANTA_PLATFORM_PLATFORM_H_
