#include "encryptedparams/parse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "support/test_support.h"

namespace quorvane::encryptedparams {
namespace {

using test::Words;

TEST(ParseWordsTest, Splits) {
  const std::pair<std::string, Words> cases[] = {
      {"", {}},
      {" \t\r\n\v\f ", {}},
      {std::string("\0\0\0", 3), {}},
      {"a  b", {"a", "b"}},
      {"  a\tb\nc\rd\ve\ff  ", {"a", "b", "c", "d", "e", "f"}},
      {"--temp-dir /x --no-check", {"--temp-dir", "/x", "--no-check"}},
      // Unicode white space separates words too.
      {"a\xC2\xA0"
       "b\xC2\x85"
       "c\xE1\x9A\x80"
       "d\xE2\x80\x80"
       "e\xE2\x80\x8A"
       "f",
       {"a", "b", "c", "d", "e", "f"}},
      {"a\xE2\x80\xA8"
       "b\xE2\x80\xA9"
       "c\xE2\x80\xAF"
       "d\xE2\x81\x9F"
       "e\xE3\x80\x80"
       "f",
       {"a", "b", "c", "d", "e", "f"}},
      // ... but not other format or separator-like characters.
      {"a\xE2\x80\x8B"
       "b",
       {"a\xE2\x80\x8B"
        "b"}},  // U+200B zero width space
      {"a\xC2\xAD"
       "b",
       {"a\xC2\xAD"
        "b"}},
      {"a\x1C"
       "b",
       {"a\x1C"
        "b"}},
      // Quoting.
      {"'a b'", {"a b"}},
      {"\"a b\"", {"a b"}},
      {"a\\ b", {"a b"}},
      {"x'y'\"z\"", {"xyz"}},
      {"''", {}},
      {"\"\"", {}},
      {"'' \"\" a", {"a"}},
      {"a''b", {"ab"}},
      {"'a\\b'", {"a\\b"}},
      {"'a\\'", {"a\\"}},
      {"'a\"b'", {"a\"b"}},
      {"\"a'b\"", {"a'b"}},
      {"\"a\\nb\"", {"a\\nb"}},
      {"\"a\\\"b\\\\c\"", {"a\"b\\c"}},
      {"\"$HOME `x` ~ *\"", {"$HOME `x` ~ *"}},
      {"$HOME ~ * =", {"$HOME", "~", "*", "="}},
      {"a\\nb", {"anb"}},
      {"a\\\nb", {"a\nb"}},
      {"\\\n", {"\n"}},
      {"\\\\", {"\\"}},
      {"\\'a", {"a"}},  // the escaped quote is trimmed afterwards
      {"a#b c", {"a#b", "c"}},
      {"# c", {"#", "c"}},
      {"--temp-dir=\"/a b\" x", {"--temp-dir=/a b", "x"}},
      // NUL bytes: dropped at the end only.
      {std::string("a\0b", 3), {std::string("a\0b", 3)}},
      {std::string("a \0", 3), {"a"}},
      {std::string("a \0x", 4), {"a", std::string("\0x", 2)}},
      {std::string("'a b'\0\0", 7), {"a b"}},
      {std::string("\0 a\0\0", 5), {std::string("\0", 1), "a"}},
      // Invalid bytes become U+FFFD, one per byte.
      {"a\xFF"
       "b \xE2\x82",
       {"a\xEF\xBF\xBD"
        "b",
        "\xEF\xBF\xBD\xEF\xBF\xBD"}},
      {"\xC2 x", {"\xEF\xBF\xBD", "x"}},
      // Quotation marks are trimmed from both ends after the split.
      {"'\"abc\"'", {"abc"}},
      {"\xE2\x80\x9C"
       "abc\xE2\x80\x9D",
       {"abc"}},
      {"\xC2\xAB"
       "abc\xC2\xBB",
       {"abc"}},
      {"\xE3\x80\x8C\xEF\xBC\x82"
       "a\xEF\xBD\xA3",
       {"a"}},
      {"don\\'t", {"don't"}},
      {"\"it's\"", {"it's"}},
      {"'\"'", {""}},
      {"a '\"' b", {"a", "", "b"}},
      {"\xE2\x80\x98\xE2\x80\x99", {""}},
      {"\"'\"a'\"'", {"a"}},
      {"`a`", {"`a`"}},
  };
  for (const auto& [text, want] : cases) {
    Result<Words> got = Parse(text);
    ASSERT_TRUE(got.ok()) << "[" << text << "]: " << got.error().message;
    EXPECT_EQ(*got, want) << "[" << text << "]";
  }
}

TEST(ParseWordsTest, Errors) {
  const std::pair<std::string, const char*> cases[] = {
      {"'abc", "No closing quotation"},
      {"a 'b c", "No closing quotation"},
      {"\"abc", "No closing quotation"},
      {"\"a\\\"", "No closing quotation"},
      {"\"", "No closing quotation"},
      {"'", "No closing quotation"},
      {std::string("'a\0b", 4), "No closing quotation"},
      {std::string("'a\0", 3), "No closing quotation"},
      {"abc\\", "No escaped character"},
      {"\\", "No escaped character"},
      {"a b \\", "No escaped character"},
      {"\"abc\\", "No escaped character"},
      {std::string("a\\\0", 3), "No escaped character"},
  };
  for (const auto& [text, want] : cases) {
    Result<Words> got = Parse(text);
    ASSERT_FALSE(got.ok()) << "[" << text << "]";
    EXPECT_EQ(got.error().message, want) << "[" << text << "]";
  }
}

TEST(ParseWordsTest, QuotationMarkSet) {
  const char32_t marks[] = {
      0x0022, 0x0027, 0x00AB, 0x00BB, 0x2018, 0x2019, 0x201A, 0x201B, 0x201C, 0x201D,
      0x201E, 0x201F, 0x2039, 0x203A, 0x2E42, 0x300C, 0x300D, 0x300E, 0x300F, 0x301D,
      0x301E, 0x301F, 0xFE41, 0xFE42, 0xFE43, 0xFE44, 0xFF02, 0xFF07, 0xFF62, 0xFF63,
  };
  int count = 0;
  for (char32_t c = 0; c < 0x110000; ++c) {
    const bool want = std::find(std::begin(marks), std::end(marks), c) != std::end(marks);
    EXPECT_EQ(isQuotationMark(c), want) << std::hex << static_cast<uint32_t>(c);
    count += isQuotationMark(c);
  }
  EXPECT_EQ(count, 30);
}

}  // namespace
}  // namespace quorvane::encryptedparams
