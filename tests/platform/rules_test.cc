// The rules the system backends hand their facts to: the first adapter,
// the UUID texts and the temporary directory.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Adapters.h"
#include "platform/TempDir.h"
#include "platform/Uuid.h"
#include "tests/support/TestEnv.h"

namespace vanta {
namespace {

using Kind = PathFacts::Kind;
using Status = AdapterAddress::Status;

TEST(RulesTest, FirstAdapterIsTheLowestIndexWithAnAddressThatIsNotLoopback) {
  const std::string long_address = "ABCDEFGHIJKLMNOPQRST", zeros(6, '\0');
  struct Row {
    const char* name;
    std::vector<AdapterFacts> adapters;
    Status status;
    std::string address;
  } rows[] = {
      {"index order, not list order", {{3, false, "three"}, {2, false, "two"}}, Status::kOk, "two"},
      {"list order among equal indexes", {{2, false, "a"}, {2, false, "b"}}, Status::kOk, "a"},
      {"loopback left out", {{1, true, zeros}, {4, false, "eth"}}, Status::kOk, "eth"},
      {"no address left out", {{1, false, ""}, {5, false, "wifi"}}, Status::kOk, "wifi"},
      {"cut to 8 bytes", {{7, false, long_address}}, Status::kOk, "ABCDEFGH"},
      {"none", {{1, true, "lo"}, {2, false, ""}}, Status::kUnreadable, ""},
  };
  for (const Row& row : rows) {
    const AdapterAddress first = FirstAdapter(row.adapters);
    EXPECT_EQ(first.status, row.status) << row.name;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.bytes), first.length), row.address)
        << row.name;
  }
}

TEST(RulesTest, CanonicalUuid) {
  const std::string canonical = "3D1219C7-C4C5-404A-AA1F-6D2A48ADFDA4";
  struct Row {
    std::string text;
    std::string uuid;
  } rows[] = {
      {"3d1219c7-c4c5-404a-aa1f-6d2a48adfda4", canonical},
      {"3D1219C7C4C5404AAA1F6D2A48ADFDA4", canonical},
      {"3D1219C7-C4C5-404A-AA1F6-D2A48ADFDA4", ""},    // a dash out of place
      {"3D1219C7-C4C5-404A-AA1F-6D2A48ADFDAG", ""},    // not hexadecimal
      {"3D1219C7-C4C5-404A-AA1F-6D2A48ADFDA4\n", ""},  // 37 characters
  };
  for (const Row& row : rows) EXPECT_EQ(CanonicalUuid(row.text), row.uuid) << row.text;
}

// An SMBIOS structure: type, formatted length, handle, the formatted
// fields, then its strings (none: a double NUL).
std::string Structure(unsigned char type, const std::string& fields,
                      const std::vector<std::string>& strings) {
  std::string out{static_cast<char>(type), static_cast<char>(4 + fields.size()), '\x12', '\x00'};
  out += fields;
  for (const std::string& text : strings) out += text + '\0';
  return out + (strings.empty() ? std::string(2, '\0') : std::string(1, '\0'));
}

// The firmware table query's blob: version 3.0, the table's length, the table.
std::string Blob(const std::string& table) {
  std::string header("\0\x03\0\0\0\0\0\0", 8);
  header[4] = static_cast<char>(table.size() & 0xFF);
  header[5] = static_cast<char>(table.size() >> 8);
  return header + table;
}

// A system information structure (type 1): manufacturer, product, version
// and serial number strings, the UUID, wake-up type, SKU and family.
std::string SystemInformation(const std::string& uuid_bytes) {
  return Structure(1, std::string("\x01\x02\x03\x04", 4) + uuid_bytes + "\x06\x05\x06",
                   {"Maker", "Model", "1.0", "S123", "SKU", "Family"});
}

TEST(RulesTest, SmbiosSystemUuid) {
  // Stored with its first three fields little endian.
  const std::string uuid_bytes("\x3D\x12\x19\xC7\xC4\xC5\x40\x4A\xAA\x1F\x6D\x2A\x48\xAD\xFD\xA4",
                               16);
  const std::string bios =
      Structure(0, std::string("\x01\x02\x00\xF0\x03\x00", 6) + std::string(12, '\x01'),
                {"Maker", "1.0", "01/01/2020"});
  const std::string board = Structure(2, "", {});
  const std::string end = Structure(127, "", {});
  const std::string real = Blob(bios + board + SystemInformation(uuid_bytes) + end);
  struct Row {
    const char* name;
    std::string blob;
    std::string uuid;
  } rows[] = {
      {"real-looking tables", real, "C719123D-C5C4-4A40-AA1F-6D2A48ADFDA4"},
      {"cut inside the UUID", real.substr(0, 8 + bios.size() + board.size() + 16), ""},
      {"shorter than its header", real.substr(0, 6), ""},
      {"no system information", Blob(bios + board + end), ""},
      {"after the end of the table", Blob(bios + end + SystemInformation(uuid_bytes)), ""},
      {"too short for a UUID", Blob(Structure(1, "\x01\x02\x03\x04", {"Maker"}) + end), ""},
      {"all zero", Blob(SystemInformation(std::string(16, '\x00')) + end), ""},
      {"all one bits", Blob(SystemInformation(std::string(16, '\xFF')) + end), ""},
  };
  for (const Row& row : rows) EXPECT_EQ(SmbiosSystemUuid(row.blob), row.uuid) << row.name;
}

// What the temporary directory rule sees: user 1000, the scripted facts of
// XDG_RUNTIME_DIR and of vanta-1000, which it creates (private) on request
// unless told it cannot.
class ScriptedDirectories : public testing::TestEnv {
 public:
  uint32_t UserId() override { return 1000; }
  PathFacts LookAtPath(const std::string& path) override {
    return path.find("vanta-1000") != std::string::npos ? own : runtime;
  }
  bool MakePrivateDirectory(const std::string&) override {
    if (can_make) own = PathFacts{Kind::kDirectory, 1000, 0700};
    return can_make;
  }
  PathFacts runtime, own;
  bool can_make = true;
};

TEST(RulesTest, TempDirectory) {
  using Text = std::optional<std::string>;
  const Text unset;
  const PathFacts missing{Kind::kMissing, 0, 0}, private_dir{Kind::kDirectory, 1000, 0700};
  const PathFacts open_dir{Kind::kDirectory, 1000, 0701}, theirs{Kind::kDirectory, 0, 0700};
  const TempRule posix = TempRule::kTempOrOwnDirectory, windows = TempRule::kTempOnly;
  const std::string own = "/tmp/vanta-1000";
  struct Row {
    const char* name;
    TempRule rule;
    Text temp, runtime, tmpdir;
    PathFacts runtime_facts, own_facts;
    std::string path;
    std::string refusal;  // "" when usable, else what follows the path
    bool can_make = true;
  } rows[] = {
      {"TEMP as given", posix, "rel", "/run/1000", "/t", private_dir, private_dir, "rel", ""},
      {"Windows: TEMP unset", windows, unset, "/run/1000", "/t", private_dir, private_dir, "", ""},
      {"empty TEMP", posix, "", "/run/1000", unset, private_dir, missing, "/run/1000", ""},
      {"relative runtime", posix, unset, "run/1000", unset, private_dir, missing, own, ""},
      {"runtime open to others", posix, unset, "/run/1000", unset, open_dir, private_dir, own, ""},
      {"under TMPDIR", posix, unset, unset, "/var/t/", missing, missing, "/var/t/vanta-1000", ""},
      {"of another user", posix, unset, unset, unset, missing, theirs, own,
       "belongs to another user"},
      {"open to others", posix, unset, unset, unset, missing, open_dir, own,
       "gives group or other users access"},
      {"not creatable", posix, unset, unset, unset, missing, missing, own,
       "does not exist and could not be created", false},
  };
  for (const Row& row : rows) {
    ScriptedDirectories env;
    env.SetVariable("TEMP", row.temp);
    env.SetVariable("XDG_RUNTIME_DIR", row.runtime);
    env.SetVariable("TMPDIR", row.tmpdir);
    env.runtime = row.runtime_facts;
    env.own = row.own_facts;
    env.can_make = row.can_make;
    const TempDir dir = TempDirectoryBy(row.rule, &env);
    EXPECT_EQ(dir.path, row.path) << row.name;
    EXPECT_EQ(dir.refusal, row.refusal.empty() ? "" : row.path + " " + row.refusal) << row.name;
  }
}

}  // namespace
}  // namespace vanta
