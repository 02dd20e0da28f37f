// The directory of the library's temporary files (the key file, the UUID
// file and the lock file).
#ifndef VANTA_PLATFORM_TEMP_DIR_H_
#define VANTA_PLATFORM_TEMP_DIR_H_

#include <cstdint>
#include <string>

#include "platform/Env.h"

namespace vanta {

// A temporary directory, or why there is none.
struct TempDir {
  std::string path;     // without a final separator
  std::string refusal;  // why path may not be used; "" when it may
  bool usable() const { return refusal.empty(); }
  // path, the separator, then name.
  std::string File(const char* name) const { return path + kPathSeparator + name; }
};

enum class TempRule {
  // TEMP as it is ("" when unset).
  kTempOnly,
  // TEMP when set and not empty (used as given). Otherwise a directory of
  // the user's own: XDG_RUNTIME_DIR when it is set, absolute, and a
  // directory of the user's without group or other access; else
  // "vanta-<user id>" under TMPDIR (or /tmp when that is unset or empty),
  // created when missing and refused unless it is such a directory.
  kTempOrOwnDirectory,
};

#if defined(_WIN32)
constexpr TempRule kSystemTempRule = TempRule::kTempOnly;
#else
constexpr TempRule kSystemTempRule = TempRule::kTempOrOwnDirectory;
#endif

// The directory that rule gives with what env says.
TempDir TempDirectoryBy(TempRule rule, Env* env);

// TempDirectoryBy(kSystemTempRule, Env::Get()).
TempDir TempDirectory();

// "" when facts describe a directory (not a symlink) that user owns and
// that gives group and others no access; otherwise what is wrong with it,
// as words that follow its path ("belongs to another user").
std::string OwnDirectoryProblem(const PathFacts& facts, uint32_t user);

}  // namespace vanta

#endif  // VANTA_PLATFORM_TEMP_DIR_H_
