#include "installer/options/parse_parameters.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/parameters_print.h"
#include "support/parse_fixture.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::Exists;
using test::ModeOf;
using test::ScratchDir;
using test::WriteFile;

using ParseParametersTest = test::ParseFixture;
using test::ErrorOf;

TEST_F(ParseParametersTest, CommandLines) {
  const Parameters none{.OutputDir = "/outdef", .TempDir = "/tmpdef"};
  struct Case {
    std::vector<std::string> words;
    Parameters want;
  };
  const Case cases[] = {
      {{}, none},
      {{"--output-dir", "/o"}, {.OutputDir = "/o", .TempDir = "/tmpdef"}},
      {{"--output-dir=/o"}, {.OutputDir = "/o", .TempDir = "/tmpdef"}},
      {{"--no-delete=false"}, {.OutputDir = "/outdef", .TempDir = "/tmpdef", .NoDelete = true}},
      {{"-hk"}, {.Help = true, .Kill = true, .OutputDir = "/outdef", .TempDir = "/tmpdef"}},
      {{"-kh"}, {.Help = true, .Kill = true, .OutputDir = "/outdef", .TempDir = "/tmpdef"}},
      {{"-h", "-k"}, {.Help = true, .Kill = true, .OutputDir = "/outdef", .TempDir = "/tmpdef"}},
      {{"-check"}, {.Help = true, .Kill = true, .OutputDir = "/outdef", .TempDir = "/tmpdef"}},
      {{"-hk=1"}, {.Help = true, .OutputDir = "/outdef", .TempDir = "/tmpdef"}},
      {{"--temp-dir", "--no-delete"}, {.OutputDir = "/outdef", .TempDir = Abs("--no-delete")}},
      {{"--debug-dir", "--no-delete"},
       {.OutputDir = "/outdef", .TempDir = "/tmpdef", .NoDelete = true}},
      {{"--temp-dir", "-hello"}, {.Help = true, .OutputDir = "/outdef", .TempDir = Abs("-ello")}},
      // The value option is given with the empty word: no default.
      {{"--temp-dir", ""}, {.OutputDir = "/outdef"}},
      // "--output-dir" comes earlier in the table and takes "/o" first.
      {{"--temp-dir", "--output-dir", "/o"}, {.OutputDir = "/o"}},
      {{"--offline", "--temp-dir", "/x"},
       {.Offline = Abs("--temp-dir"), .OutputDir = "/outdef", .TempDir = "/tmpdef"}},
      {{"--temp-dir=/a=b"}, none},
      {{"--encrypted-params=abc="}, none},
      {{"--Help"}, none},
      {{"--"}, none},
      {{"-"}, none},
      {{"--temp"}, none},
      {{"foo"}, none},
      {{"", "foo", "--kill", ""}, {.Kill = true, .OutputDir = "/outdef", .TempDir = "/tmpdef"}},
      {{"--temp-dir", "a/../t/", "--offline=off", "--yara-dir", "/y//r", "--output-dir", "."},
       {.Offline = Abs("off"), .OutputDir = dir_.path(), .TempDir = Abs("t"), .YaraDir = "/y/r"}},
      {{"--no-check", "--no-admin-check", "--debug-dir", "/"},
       {.OutputDir = "/outdef",
        .TempDir = "/tmpdef",
        .NoAdminCheck = true,
        .NoCheck = true,
        .DebugDir = "/"}},
      {{"--temp-dir", "\xff\xfe"}, {.OutputDir = "/outdef", .TempDir = Abs("\xff\xfe")}},
  };
  for (const Case& c : cases) {
    for (bool lenient : {false, true}) {
      Result<Parameters> got = Parse(c.words, lenient);
      ASSERT_TRUE(got.ok()) << ::testing::PrintToString(c.words) << ": " << got.error().message;
      EXPECT_EQ(*got, c.want) << ::testing::PrintToString(c.words) << " lenient " << lenient;
    }
  }
}

TEST_F(ParseParametersTest, StrictFailures) {
  const std::string repeated_help = "[-h|--help] can only be present once";
  const std::string repeated_temp = "[--temp-dir] can only be present once";
  const std::string short_temp = "not enough arguments for --temp-dir";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--temp-dir"}, short_temp},
      {{"--temp-dir="}, short_temp},
      {{"--temp-dir", "/a", "--temp-dir"}, short_temp},
      {{"--kill="}, "not enough arguments for -k|--kill"},
      {{"-h="}, "not enough arguments for -h|--help"},
      {{"-hh"}, repeated_help},
      {{"-h", "--help"}, repeated_help},
      {{"--help", "--help"}, repeated_help},
      {{"-hk=1", "-h"}, repeated_help},
      {{"--kill", "-k"}, "[-k|--kill] can only be present once"},
      {{"--temp-dir=/a", "--temp-dir"}, repeated_temp},
      {{"--temp-dir", "/a", "--temp-dir", "/b"}, repeated_temp},
      {{"--temp-dir", "/a", "--temp-dir=/b"}, repeated_temp},
      {{"--temp-dir=/a", "--temp-dir=/b"}, repeated_temp},
      // The first failing row wins, whatever the order of the words.
      {{"--encrypted-params", "--debug-dir", "-hh"}, repeated_help},
  };
  for (const auto& [words, want] : cases) {
    EXPECT_EQ(ErrorOf(Parse(words)), want) << ::testing::PrintToString(words);
  }
}

TEST_F(ParseParametersTest, LenientPassKeepsWhatItSetBeforeTheFailure) {
  struct Case {
    std::vector<std::string> words;
    Parameters want;
  };
  // Rows from the failing one on take no default.
  const Case cases[] = {
      {{"-hh", "--temp-dir", "/x", "--kill"}, {}},
      {{"--temp-dir"}, {.OutputDir = "/outdef"}},
      {{"--kill", "--temp-dir", "/a", "--temp-dir", "/b", "--no-delete"},
       {.Kill = true, .OutputDir = "/outdef", .TempDir = "/a"}},
      {{"--output-dir=/o", "--no-check", "--no-check"},
       {.OutputDir = "/o", .TempDir = "/tmpdef", .NoCheck = true}},
  };
  for (const Case& c : cases) {
    Result<Parameters> got = Parse(c.words, true);
    ASSERT_TRUE(got.ok()) << ::testing::PrintToString(c.words);
    EXPECT_EQ(*got, c.want) << ::testing::PrintToString(c.words);
  }
}

TEST_F(ParseParametersTest, DebugDirIsCreatedWithItsParents) {
  if (geteuid() != 0) GTEST_SKIP() << "a directory of mode 0640 can only be entered by root";
  Result<Parameters> got = Parse({"--debug-dir", "a/b/c"});
  ASSERT_TRUE(got.ok()) << got.error().message;
  EXPECT_EQ(got->DebugDir, Abs("a/b/c"));
  for (const char* level : {"a", "a/b", "a/b/c"}) EXPECT_EQ(ModeOf(Abs(level)), 0640u) << level;

  // An existing directory is taken as it is.
  ASSERT_EQ(mkdir(Abs("d").c_str(), 0700), 0);
  got = Parse({"--debug-dir=" + Abs("d")});
  ASSERT_TRUE(got.ok()) << got.error().message;
  EXPECT_EQ(got->DebugDir, Abs("d"));
  EXPECT_EQ(ModeOf(Abs("d")), 0700u);
}

TEST_F(ParseParametersTest, DebugDirCreationFollowsTheUmask) {
  test::ScopedUmask mask(0077);
  Result<Parameters> got = Parse({"--debug-dir", "m"});
  ASSERT_TRUE(got.ok()) << got.error().message;
  EXPECT_EQ(ModeOf(Abs("m")), 0600u);
}

TEST_F(ParseParametersTest, LenientPassCreatesTheDebugDirUnlessItStoppedFirst) {
  Result<Parameters> got = Parse({"--debug-dir", "early", "--bogus"}, true);
  ASSERT_TRUE(got.ok());
  EXPECT_TRUE(Exists(Abs("early")));

  got = Parse({"-hh", "--debug-dir", Abs("d")}, true);
  ASSERT_TRUE(got.ok());
  EXPECT_FALSE(Exists(Abs("d")));
  EXPECT_EQ(ErrorOf(Parse({"-hh", "--debug-dir", Abs("d")})),
            "[-h|--help] can only be present once");
  EXPECT_FALSE(Exists(Abs("d")));
}

TEST_F(ParseParametersTest, DebugDirErrors) {
  WriteFile(Abs("file"), "x");
  ASSERT_EQ(symlink("missing/target", Abs("dangling").c_str()), 0);
  const std::string long_name = "/" + std::string(1 << 20, 'n');
  const std::pair<std::string, std::string> cases[] = {
      {"file", "debug parameter value \"" + Abs("file") + "\" is not a directory"},
      {"file/sub", "invalid debug directory \"" + Abs("file/sub") + "\", error: stat " +
                       Abs("file/sub") + ": not a directory"},
      {"dangling", "couldn't create \"" + Abs("dangling") + "\", error: mkdir " + Abs("dangling") +
                       ": file exists"},
      {long_name, "invalid debug directory \"" + long_name + "\", error: stat " + long_name +
                      ": file name too long"},
  };
  for (const auto& [value, want] : cases) {
    for (bool lenient : {false, true}) {
      Result<Parameters> got = Parse({"--debug-dir", value}, lenient);
      EXPECT_TRUE(ErrorOf(got) == want) << ErrorOf(got).substr(0, 200);
    }
  }
  EXPECT_FALSE(Exists(Abs("missing")));
}

// Without a working directory no relative value can be made absolute; the
// fields are validated in record order, each with its own text.
TEST_F(ParseParametersTest, ValidationOrderWithoutAWorkingDirectory) {
  ASSERT_EQ(mkdir(Abs("gone").c_str(), 0700), 0);
  ASSERT_EQ(chdir(Abs("gone").c_str()), 0);
  ASSERT_EQ(rmdir(Abs("gone").c_str()), 0);
  unsetenv("PWD");
  const std::string cause = ", error: getwd: no such file or directory";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--output-dir", "o", "--yara-dir", "y", "--temp-dir", "t", "--debug-dir", "d", "--offline",
        "x"},
       "invalid OS directory \"x\"" + cause},
      {{"--output-dir", "o", "--yara-dir", "y", "--temp-dir", "t", "--debug-dir", "d"},
       "invalid debug directory \"d\"" + cause},
      {{"--output-dir", "o", "--yara-dir", "y", "--temp-dir", "t"},
       "invalid temporary directory \"t\"" + cause},
      {{"--output-dir", "o", "--yara-dir", "y"}, "invalid yara rule directory \"y\"" + cause},
      {{"--output-dir", "o"}, "invalid output directory \"o\"" + cause},
  };
  for (const auto& [words, want] : cases) {
    EXPECT_EQ(ErrorOf(Parse(words)), want) << ::testing::PrintToString(words);
    EXPECT_EQ(ErrorOf(Parse(words, true)), want) << ::testing::PrintToString(words);
  }
  // Absolute values need no working directory; an empty value is not validated.
  Result<Parameters> got = Parse({"--offline", "/x", "--temp-dir", ""});
  ASSERT_TRUE(got.ok()) << got.error().message;
  EXPECT_EQ(got->Offline, "/x");
  EXPECT_EQ(got->TempDir, "");
}

TEST_F(ParseParametersTest, HugeCommandLines) {
  std::vector<std::string> words(30000, "-x");
  words.push_back("--temp-dir");
  words.push_back("/" + std::string(4 << 20, 't'));
  words.insert(words.end(), 30000, "");
  words.push_back("-" + std::string(1 << 20, 'k'));
  EXPECT_EQ(ErrorOf(Parse(words)), "[-k|--kill] can only be present once");
  words.back() = "-k";
  Result<Parameters> got = Parse(words);
  ASSERT_TRUE(got.ok());
  EXPECT_TRUE(got->Kill);
  EXPECT_EQ(got->TempDir.size(), (4u << 20) + 1);
}

TEST(ParseParametersNoArgv, EmptyArgumentVector) {
  Result<Parameters> got = ParseParameters({}, "/t", "/o", false);
  ASSERT_TRUE(got.ok());
  EXPECT_EQ(*got, (Parameters{.OutputDir = "/o", .TempDir = "/t"}));
}

}  // namespace
}  // namespace quorvane
