// The shared JSON pieces where the public requests cannot reach them:
// numbers that are not integers, the C locale and the nesting bound.
#include "messages/Json.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace vanta {
namespace {

std::string Repeat(const std::string& piece, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += piece;
  return text;
}

// Makes the C locale one whose decimal separator is ",", generating
// de_DE.UTF-8 into a private directory when the system lacks it.
bool UseCommaLocale() {
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    // One directory per process: other test runs may generate at once.
    std::string dir = ::testing::TempDir() + "vanta-locales-" + std::to_string(getpid());
    std::string command = "mkdir -p '" + dir + "' && localedef -i de_DE -f UTF-8 '" + dir +
                          "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
    setenv("LOCPATH", dir.c_str(), 1);
    bool made = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    // The loaded locale stays mapped; its files are no longer needed.
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0 || !made) return false;
  }
  return std::string(std::localeconv()->decimal_point) == ",";
}

TEST(JsonTest, NumbersUseDotUnderCommaLocale) {
  if (!UseCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma could be made";
  struct Row {
    double number;
    std::string text;
  };
  const Row rows[] = {{1.5, "1.5"},
                      {-0.25, "-0.25"},
                      {9007199254740993.0, "9007199254740992"},
                      {1e300, "1.0000000000000001e+300"}};
  for (const Row& row : rows) {
    EXPECT_EQ(json::Write(picojson::value(row.number)), row.text);
    picojson::value parsed;
    ASSERT_EQ(json::Parse(row.text, parsed), WS_SUCCESS) << row.text;
    EXPECT_EQ(parsed.get<double>(), row.number) << row.text;
  }
  std::setlocale(LC_ALL, "C");
}

TEST(JsonTest, NestingIsBoundedForArraysAndObjects) {
  const size_t n = json::kMaxDepth;
  const std::pair<std::string, uint32_t> rows[] = {
      {Repeat("[", n) + Repeat("]", n), WS_SUCCESS},
      {Repeat("[", n + 1) + Repeat("]", n + 1), WS_ERROR_BAD_RESPONSE},
      {Repeat("{\"a\":", n) + "1" + Repeat("}", n), WS_SUCCESS},
      {Repeat("[{\"a\":", n / 2) + "[1]" + Repeat("}]", n / 2), WS_ERROR_BAD_RESPONSE},
  };
  for (const auto& row : rows) {
    picojson::value out;
    EXPECT_EQ(json::Parse(row.first, out), row.second) << row.first.substr(0, 40);
  }
}

}  // namespace
}  // namespace vanta
