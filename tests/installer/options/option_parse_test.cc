#include "installer/options/option_parse.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace quorvane {
namespace {

// Two letter flags, a value option, a long flag.
const std::vector<OptionDef> kTable = {
    {"help", 'h', false},
    {"dir", 0, true},
    {"kill", 'k', false},
    {"quiet", 0, false},
};

std::string FailureText(const OptionParse& p) {
  return p.status.ok() ? "" : p.status.error().message;
}

TEST(OptionParseTest, DisplayNames) {
  EXPECT_EQ(DisplayName(kTable[0]), "-h|--help");
  EXPECT_EQ(DisplayName(kTable[1]), "--dir");
  EXPECT_EQ(DisplayName(kTable[2]), "-k|--kill");
}

TEST(OptionParseTest, RowsAfterAFailureAreNotScanned) {
  // The failure on "--dir" stops the parse: "--kill" is never looked at,
  // and "--dir" keeps the value that it took before.
  OptionParse p = ParseOptions(kTable, {"-h", "--dir", "/a", "--kill", "--dir=/b"});
  EXPECT_EQ(FailureText(p), "[--dir] can only be present once");
  EXPECT_FALSE(p.complete);
  ASSERT_EQ(p.options.size(), 4u);
  EXPECT_TRUE(p.options[0].given && p.options[0].scanned);
  EXPECT_TRUE(p.options[1].given);
  EXPECT_FALSE(p.options[1].scanned);
  EXPECT_EQ(p.options[1].value, "/a");
  EXPECT_FALSE(p.options[2].given || p.options[2].scanned);
  EXPECT_FALSE(p.options[3].given || p.options[3].scanned);
}

TEST(OptionParseTest, LeftoversKeepTheirOrderAndWhatLettersLeft) {
  OptionParse p = ParseOptions(kTable, {"b", "", "-check", "--", "-", "--quiet", "--Help", "a"});
  EXPECT_TRUE(p.complete);
  EXPECT_EQ(FailureText(p), "unknown arguments b -cec -- - --Help a");
  EXPECT_TRUE(p.options[0].given);
  EXPECT_TRUE(p.options[2].given);
  EXPECT_TRUE(p.options[3].given);
  for (const OptionOutcome& o : p.options) EXPECT_TRUE(o.scanned);
}

TEST(OptionParseTest, ValueTakesTheNextWordWhateverItHolds) {
  // "--quiet" is a later row, so "--dir" takes it; "-kx" is tested for the
  // letters first and reaches "--dir" as "-x" only when "--dir" comes later.
  OptionParse p = ParseOptions(kTable, {"--dir", "--quiet"});
  EXPECT_TRUE(p.status.ok());
  EXPECT_EQ(p.options[1].value, "--quiet");
  EXPECT_FALSE(p.options[3].given);

  p = ParseOptions(kTable, {"--dir", "-hx"});
  EXPECT_TRUE(p.status.ok());
  EXPECT_TRUE(p.options[0].given);
  EXPECT_EQ(p.options[1].value, "-x");

  p = ParseOptions(kTable, {"--dir", ""});
  EXPECT_TRUE(p.status.ok());
  EXPECT_TRUE(p.options[1].given);
  EXPECT_EQ(p.options[1].value, "");

  // "=" splits at the last "=": the value may not hold one, the name may.
  p = ParseOptions(kTable, {"--dir==x"});
  EXPECT_EQ(FailureText(p), "unknown arguments --dir==x");
  p = ParseOptions(kTable, {"--dir=x="});
  EXPECT_EQ(FailureText(p), "unknown arguments --dir=x=");
}

// Big and odd input must neither crash nor take long: each row looks at each
// word once, so the work is linear in the size of the command line.
TEST(OptionParseTest, LargeAndOddInput) {
  const auto start = std::chrono::steady_clock::now();

  std::vector<std::string> many(50000, "foo");
  many[25000] = "--dir";
  many[40000] = "-hk";
  OptionParse p = ParseOptions(kTable, many);
  EXPECT_TRUE(p.complete);
  EXPECT_EQ(p.options[1].value, "foo");
  EXPECT_TRUE(p.options[0].given && p.options[2].given);
  EXPECT_EQ(FailureText(p).size(), std::string("unknown arguments ").size() + 49997 * 4 - 1);

  std::vector<std::string> empties(50000, "");
  p = ParseOptions(kTable, empties);
  EXPECT_TRUE(p.status.ok());

  std::vector<std::string> repeats(50000, "--quiet");
  p = ParseOptions(kTable, repeats);
  EXPECT_EQ(FailureText(p), "[--quiet] can only be present once");

  const std::string mb(4 << 20, 'x');
  p = ParseOptions(kTable, {"--dir", mb, "-" + mb + "k", "--dir=" + mb, std::string(1 << 20, '=')});
  EXPECT_EQ(FailureText(p), "[--dir] can only be present once");

  p = ParseOptions(kTable, {"-" + std::string(1 << 20, 'h')});
  EXPECT_EQ(FailureText(p), "[-h|--help] can only be present once");

  // Invalid UTF-8 is taken byte for byte.
  p = ParseOptions(kTable, {"-" + mb + "h", "--dir", "\xff\xfe\x80", "-\xc3k\xa9"});
  EXPECT_TRUE(p.complete);
  EXPECT_TRUE(p.options[0].given && p.options[2].given);
  EXPECT_EQ(p.options[1].value, "\xff\xfe\x80");
  // Compared as a whole so that a failure does not print megabytes.
  EXPECT_TRUE(FailureText(p) == "unknown arguments -" + mb + " -\xc3\xa9");

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 10.0);
}

}  // namespace
}  // namespace quorvane
