#include "accessor/DeviceId.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "tests/accessor/RunnerFixture.h"

namespace vanta {
namespace {

using Status = platform::AdapterAddress::Status;

class DeviceIdTest : public testing::RunnerTest {};

TEST_F(DeviceIdTest, BuildsFromTheUuidFileAndTheFirstAdapter) {
  // 100 header characters: the 128-byte line read stops inside them and
  // the kept bytes are header characters 64 to 99.
  std::string long_header;
  for (int i = 0; i < 100; ++i) long_header += static_cast<char>('A' + i % 26);
  const std::string normal = "\xFF\xFE" + testing::Utf16("UUID  \r\n" + std::string(kUuid));
  struct Row {
    const char* name;
    std::optional<std::string> uuid_bytes;
    int length;  // of the scripted address; -1: the list is unreadable
    Status status;
    const char* prefix;
    int size;
    bool built;
    DeviceIdFailure failure;
    std::string expected;  // the buffer afterwards
  };
  const Row rows[] = {
      {"normal, fills 55 bytes", normal, 6, Status::kOk, "", 55, true, DeviceIdFailure::kNone,
       ExpectedDeviceId()},
      {"eight address bytes are cut to 17 characters", normal, 8, Status::kOk, "", 55, true,
       DeviceIdFailure::kNone, ExpectedDeviceId()},
      {"address of no bytes", normal, 0, Status::kOk, "", 55, true, DeviceIdFailure::kNone,
       std::string(kUuid) + "-"},
      {"one address byte", normal, 1, Status::kOk, "", 55, true, DeviceIdFailure::kNone,
       std::string(kUuid) + "-00"},
      {"appends within the size", normal, 6, Status::kOk, "ab", 12, true, DeviceIdFailure::kNone,
       "ab4C4C4544-"},
      {"long header line", testing::Utf16(long_header + "\r\n" + kUuid), 6, Status::kOk, "", 55,
       true, DeviceIdFailure::kNone, long_header.substr(64, 36) + "-" + kAddress},
      {"short file", "\xFF\xFE" + testing::Utf16("UUID\r\n4C4C"), 2, Status::kOk, "", 55, true,
       DeviceIdFailure::kNone, "4C4C-00-1A"},
      {"empty file", "", 6, Status::kOk, "", 55, true, DeviceIdFailure::kNone,
       std::string("-") + kAddress},
      {"no UUID file", std::nullopt, 6, Status::kOk, "x", 55, false,
       DeviceIdFailure::kUuidFileUnreadable, "x"},
      {"no adapter", normal, 6, Status::kUnreadable, "x", 55, false,
       DeviceIdFailure::kAdapterListUnreadable, "x"},
      {"no memory for the list", normal, 6, Status::kBufferUnavailable, "x", 55, false,
       DeviceIdFailure::kAdapterBufferUnavailable, "x"},
  };
  for (const Row& row : rows) {
    SetUuidFileBytes(row.uuid_bytes);
    adapter.status = row.status;
    adapter.length = row.length;
    adapter.bytes[6] = 0x6F;
    adapter.bytes[7] = 0x7F;
    char buffer[55] = {};
    std::strcpy(buffer, row.prefix);
    DeviceIdFailure failure = DeviceIdFailure::kProcessNotStarted;
    EXPECT_EQ(CreateDeviceIdText(buffer, row.size, &failure), row.built) << row.name;
    EXPECT_EQ(failure, row.failure) << row.name;
    EXPECT_EQ(std::string(buffer), row.expected) << row.name;
  }
}

TEST_F(DeviceIdTest, StartsTheInterpreterWithTheQueryAndTheRealAdapter) {
  SetAdapterSourceForTesting(nullptr);
  char buffer[55] = {};
  const bool built = CreateDeviceIdText(buffer, sizeof(buffer), nullptr);
  EXPECT_EQ(ReadTempFile("arguments").value_or(""),
            "/C|wmic|csproduct|get|uuid|>|" + dir_ + "/id.tmp|");
  const platform::AdapterAddress first = platform::FirstAdapterAddress();
  if (first.status != Status::kOk) {
    EXPECT_FALSE(built);
    return;
  }
  std::string address;
  for (int i = 0; i < first.length && i < 6; ++i) {
    static const char kHex[] = "0123456789ABCDEF";
    address +=
        std::string(i > 0 ? "-" : "") + kHex[first.bytes[i] >> 4] + kHex[first.bytes[i] & 15];
  }
  EXPECT_TRUE(built);
  EXPECT_EQ(std::string(buffer), std::string(kUuid) + "-" + address);

  testing::ScopedEnv missing("ComSpec", dir_ + "/no-such-interpreter");
  DeviceIdFailure failure = DeviceIdFailure::kNone;
  EXPECT_FALSE(CreateDeviceIdText(buffer, sizeof(buffer), &failure));
  EXPECT_EQ(failure, DeviceIdFailure::kProcessNotStarted);
}

// Without ComSpec the library writes the UUID file from the machine's own
// identity, upper case in 8-4-4-4-12 form.
TEST_F(DeviceIdTest, WithoutAnInterpreterUsesTheMachineIdentity) {
  testing::ScopedEnv no_interpreter("ComSpec", std::nullopt);
  std::string id;
  std::ifstream("/sys/class/dmi/id/product_uuid") >> id;
  if (id.size() != 36) {
    std::ifstream("/etc/machine-id") >> id;
    if (id.size() == 32) {
      for (size_t dash : {8, 13, 18, 23}) id.insert(dash, "-");
    }
  }
  for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  char buffer[55] = {};
  DeviceIdFailure failure = DeviceIdFailure::kNone;
  if (id.size() != 36) {
    EXPECT_FALSE(CreateDeviceIdText(buffer, sizeof(buffer), &failure));
    EXPECT_EQ(failure, DeviceIdFailure::kProcessNotStarted);
    return;
  }
  ASSERT_TRUE(CreateDeviceIdText(buffer, sizeof(buffer), &failure));
  EXPECT_EQ(std::string(buffer), id + "-" + kAddress);
  EXPECT_EQ(ReadTempFile("id.tmp").value_or("").substr(0, 2), "\xFF\xFE");
}

}  // namespace
}  // namespace vanta
