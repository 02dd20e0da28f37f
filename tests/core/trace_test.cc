#include "core/Trace.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/support/TestEnv.h"

namespace vanta {
namespace {

// What a trace line shows of texts that a server or the machine hands over.
TEST(TraceTest, SecretsAreShortenedAndTextsKeptToOneLine) {
  const std::pair<std::string, std::string> rows[] = {
      {trace::Secret("0123456789abcdef"), "0123... (16 bytes)"},
      {trace::Secret("k"), "k... (1 bytes)"},
      {trace::Printable("a\nb\tc\x7f"), "a b c "},
      {trace::Printable(std::string(5, 'x'), 3), "xxx... (5 bytes)"},
      {trace::Code(WS_ERROR_TIMED_OUT), "0xAC40C80C WS_ERROR_TIMED_OUT"},
  };
  for (const auto& [shown, expected] : rows) EXPECT_EQ(shown, expected);
  // Nothing reaches a handler once it is removed.
  {
    testing::TraceLog log;
    trace::Emit("one");
    EXPECT_TRUE(trace::Enabled());
  }
  EXPECT_FALSE(trace::Enabled());
  testing::TraceLog later;
  EXPECT_TRUE(later.Lines().empty());
}

}  // namespace
}  // namespace vanta
