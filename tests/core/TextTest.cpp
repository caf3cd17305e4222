#include <gtest/gtest.h>

#include <string>

#include "core/Text.h"

namespace zuro {
namespace {

TEST(BoundedCopy, StringFieldKeepsItsMaximum) {
  struct Case {
    std::string src;
    std::size_t max;
    std::string expected;
  };
  const Case cases[] = {
      {"DU70 2.30", 21, "DU70 2.30"},
      {std::string(10000, 'x'), 21, std::string(21, 'x')},
      {"", 5, ""},
      {std::string("AB\0CD", 5), 10, "AB"},  // a device text ends at its NUL
      {"abc", 0, ""},
  };
  for (const auto& c : cases) {
    std::string dst = "old content";
    EXPECT_EQ(BoundedCopy(dst, c.src, c.max), c.expected.size());
    EXPECT_EQ(dst, c.expected);
  }
}

TEST(BoundedCopy, CharBufferIsAlwaysTerminated) {
  char buf[5] = {'z', 'z', 'z', 'z', 'z'};
  EXPECT_EQ(BoundedCopy(buf, sizeof buf, "123456789"), 4u);
  EXPECT_STREQ(buf, "1234");
  EXPECT_EQ(BoundedCopy(buf, sizeof buf, nullptr), 0u);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(BoundedCopy(nullptr, 10, "x"), 0u);
}

TEST(Format, FormatsAndCutsToTheBuffer) {
  EXPECT_EQ(StrFormat("%s %d.%02d", "DU70", 2, 30), "DU70 2.30");
  EXPECT_EQ(StrFormat("%s", std::string(5000, 'a').c_str()).size(), 5000u);
  char buf[34];
  EXPECT_EQ(BufFormat(buf, sizeof buf, "Unknown Sensor (type %u)", 300u), 25u);
  EXPECT_STREQ(buf, "Unknown Sensor (type 300)");
  char tiny[6];
  EXPECT_EQ(BufFormat(tiny, sizeof tiny, "%s", "abcdefgh"), 5u);
  EXPECT_STREQ(tiny, "abcde");
}

TEST(Format, UpperCaseLeavesHighBytesAlone) {
  EXPECT_EQ(ToUpperAscii("du70 \xe9x"), "DU70 \xe9X");
}

}  // namespace
}  // namespace zuro
