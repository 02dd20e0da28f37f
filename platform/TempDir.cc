#include "platform/TempDir.h"

#include <optional>

namespace vanta {

namespace {

// The value of name unless it is unset or empty.
std::optional<std::string> NonEmptyVariable(Env* env, const char* name) {
  std::optional<std::string> value = env->GetVariable(name);
  if (value && value->empty()) value.reset();
  return value;
}

// XDG_RUNTIME_DIR when it may serve as the user's own directory.
std::optional<std::string> RuntimeDirectory(Env* env, uint32_t user) {
  std::optional<std::string> dir = NonEmptyVariable(env, "XDG_RUNTIME_DIR");
  if (!dir || (*dir)[0] != '/' || !OwnDirectoryProblem(env->LookAtPath(*dir), user).empty()) {
    return std::nullopt;
  }
  return dir;
}

// "vanta-<user>" under TMPDIR or /tmp, created when missing.
TempDir OwnDirectory(Env* env, uint32_t user) {
  std::string dir = NonEmptyVariable(env, "TMPDIR").value_or("/tmp");
  if (dir.back() != '/') dir += '/';
  dir += "vanta-" + std::to_string(user);
  PathFacts facts = env->LookAtPath(dir);
  if (facts.kind == PathFacts::Kind::kMissing) {
    // Another process may create it first; what is there then is judged.
    env->MakePrivateDirectory(dir);
    facts = env->LookAtPath(dir);
  }
  const std::string problem = OwnDirectoryProblem(facts, user);
  return TempDir{dir, problem.empty() ? "" : dir + " " + problem};
}

}  // namespace

TempDir TempDirectoryBy(TempRule rule, Env* env) {
  if (rule == TempRule::kTempOnly) return TempDir{env->GetVariable("TEMP").value_or(""), ""};
  const std::optional<std::string> temp = NonEmptyVariable(env, "TEMP");
  if (temp) return TempDir{*temp, ""};
  const uint32_t user = env->UserId();
  const std::optional<std::string> runtime = RuntimeDirectory(env, user);
  if (runtime) return TempDir{*runtime, ""};
  return OwnDirectory(env, user);
}

TempDir TempDirectory() { return TempDirectoryBy(kSystemTempRule, Env::Get()); }

std::string OwnDirectoryProblem(const PathFacts& facts, uint32_t user) {
  switch (facts.kind) {
    case PathFacts::Kind::kDirectory:
      break;
    case PathFacts::Kind::kMissing:
      return "does not exist and could not be created";
    case PathFacts::Kind::kSymlink:
      return "is a symbolic link";
    case PathFacts::Kind::kOther:
      return "is not a directory";
    case PathFacts::Kind::kUnknown:
      return "could not be examined";
  }
  if (facts.owner != user) return "belongs to another user";
  if ((facts.mode & 077) != 0) return "gives group or other users access";
  return "";
}

}  // namespace vanta
