#include "common/unicode_case.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(UnicodeCaseTest, LowerAndFold) {
  EXPECT_EQ(ToLowerUnicode("--OUTPUT-DIR"), "--output-dir");
  EXPECT_EQ(ToLowerUnicode("--output-d\xc4\xb0r"), "--output-dir");  // U+0130 maps to "i"
  EXPECT_EQ(ToLowerUnicode("\xe2\x84\xaa"), "k");                    // Kelvin sign
  EXPECT_EQ(ToLowerUnicode("\xc3\x89T\xff"), "\xc3\xa9t\xef\xbf\xbd");

  EXPECT_TRUE(EqualFoldUnicode("--Temp-DIR", "--temp-dir"));
  EXPECT_TRUE(EqualFoldUnicode("\xe2\x84\xaa", "k"));
  EXPECT_TRUE(EqualFoldUnicode("\xc5\xbf", "S"));                     // long s
  EXPECT_FALSE(EqualFoldUnicode("--temp-d\xc4\xb0r", "--temp-dir"));  // no simple folding
  EXPECT_FALSE(EqualFoldUnicode("--temp-d\xc4\xb1r", "--temp-dir"));
  EXPECT_FALSE(EqualFoldUnicode("--temp-dir2", "--temp-dir"));
}

}  // namespace
}  // namespace quorvane
