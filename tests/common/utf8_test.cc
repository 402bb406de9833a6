#include "common/utf8.h"

#include <gtest/gtest.h>

#include "common/unicode_case.h"

namespace quorvane {
namespace {

TEST(Utf8Test, InvalidBytesBecomeOneReplacementEach) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc", "abc"},
      {"\xc3\xa9", "\xc3\xa9"},
      {"\xff", "\xef\xbf\xbd"},
      {"a\xc3", "a\xef\xbf\xbd"},                                  // truncated
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},                    // overlong
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},    // surrogate
      {"\xf4\x90\x80\x80", std::string("\xef\xbf\xbd") + "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
      {"\xe2\x82", "\xef\xbf\xbd\xef\xbf\xbd"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(ToValidUtf8(in), want);
  EXPECT_EQ(CountRunes("a\xc3\xa9\xff"), 3u);
}

TEST(UnicodeCaseTest, LowerAndFold) {
  EXPECT_EQ(ToLowerUnicode("--OUTPUT-DIR"), "--output-dir");
  EXPECT_EQ(ToLowerUnicode("--output-d\xc4\xb0r"), "--output-dir");  // U+0130 maps to "i"
  EXPECT_EQ(ToLowerUnicode("\xe2\x84\xaa"), "k");                     // Kelvin sign
  EXPECT_EQ(ToLowerUnicode("\xc3\x89T\xff"), "\xc3\xa9t\xef\xbf\xbd");

  EXPECT_TRUE(EqualFoldUnicode("--Temp-DIR", "--temp-dir"));
  EXPECT_TRUE(EqualFoldUnicode("\xe2\x84\xaa", "k"));
  EXPECT_TRUE(EqualFoldUnicode("\xc5\xbf", "S"));  // long s
  EXPECT_FALSE(EqualFoldUnicode("--temp-d\xc4\xb0r", "--temp-dir"));  // no simple folding
  EXPECT_FALSE(EqualFoldUnicode("--temp-d\xc4\xb1r", "--temp-dir"));
  EXPECT_FALSE(EqualFoldUnicode("--temp-dir2", "--temp-dir"));
}

}  // namespace
}  // namespace quorvane
