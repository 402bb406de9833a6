#include "common/utf8.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(Utf8Test, InvalidBytesBecomeOneReplacementEach) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc", "abc"},
      {"\xc3\xa9", "\xc3\xa9"},
      {"\xff", "\xef\xbf\xbd"},
      {"a\xc3", "a\xef\xbf\xbd"},                                // truncated
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},                  // overlong
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // surrogate
      {"\xf4\x90\x80\x80", std::string("\xef\xbf\xbd") + "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
      {"\xe2\x82", "\xef\xbf\xbd\xef\xbf\xbd"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(ToValidUtf8(in), want);
  EXPECT_EQ(CountRunes("a\xc3\xa9\xff"), 3u);
}

}  // namespace
}  // namespace quorvane
