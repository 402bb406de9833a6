#include "installer/options/encrypted_options.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "encryptedparams/encrypted_params.h"
#include "encryptedparams/parse.h"
#include "installer/options/parse_parameters.h"
#include "support/parse_fixture.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using encryptedparams::DecryptedParams;
using encryptedparams::EncryptedParams;
using test::Exists;
using test::ScratchDir;

const char kKey[] = "s3cr\"et<";

// The --encrypted-params value of text, as a tool would make it; type and
// key replace the real ones afterwards, to make records that cannot be opened.
std::string Record(const std::string& text, uint64_t version = 7, const std::string& type = "rc4",
                   const std::string& key = kKey) {
  Result<EncryptedParams> e = DecryptedParams{version, "rc4", text, kKey}.Encrypt();
  EXPECT_TRUE(e.ok());
  EncryptedParams record = *e;
  record.CryptType = type;
  record.OptionalEntropy = key;
  return record.ToOptionValue();
}

// The record that the parse left in EncryptedParamsValue, decrypted.
DecryptedParams Open(const std::string& value) {
  Result<EncryptedParams> e = encryptedparams::NewEncryptedParamsFromString(value);
  EXPECT_TRUE(e.ok()) << e.error().message;
  if (!e.ok()) return {};
  Result<DecryptedParams> d = e->Decrypt();
  EXPECT_TRUE(d.ok()) << d.error().message;
  return d.ok() ? *d : DecryptedParams{};
}

class EncryptedParamsStepTest : public test::ParseFixture {
 protected:
  // The command line words before "--encrypted-params <record of text>".
  static Result<Parameters> Parse(std::vector<std::string> words, const std::string& text,
                                  bool lenient = false) {
    words.push_back("--encrypted-params");
    words.push_back(Record(text));
    return ParseFixture::Parse(std::move(words), lenient);
  }
};

using test::ErrorOf;

TEST_F(EncryptedParamsStepTest, WordsOverrideAndAreRequoted) {
  struct Case {
    std::vector<std::string> words;  // the command line before the record
    std::string text;                // the record's text
    std::string new_text;            // the text of the record passed on
    Parameters want;                 // without EncryptedParamsValue
  };
  const Case cases[] = {
      {{"--temp-dir", "/y"},
       "--temp-dir /x --kill",
       "--temp-dir \"/x\" --kill",
       {.Kill = true, .OutputDir = "/outdef", .TempDir = "/x"}},
      {{},
       "--temp-dir rel",
       "--temp-dir \"" + Abs("rel") + "\"",
       {.OutputDir = "/outdef", .TempDir = Abs("rel")}},
      {{}, "--temp-dir=rel", "--temp-dir=rel", {.OutputDir = "/outdef", .TempDir = Abs("rel")}},
      // Words only add flags.
      {{"--kill", "--no-delete"},
       "--help",
       "--help",
       {.Help = true,
        .Kill = true,
        .OutputDir = "/outdef",
        .TempDir = "/tmpdef",
        .NoDelete = true}},
      // "--help" is taken by its own row first: the command line's value stands.
      {{"--temp-dir", "/c"},
       "--temp-dir --help",
       "--temp-dir \"/c\"",
       {.Help = true, .OutputDir = "/outdef", .TempDir = "/c"}},
      {{},
       "--temp-dir --help",
       "--temp-dir \"/tmpdef\"",
       {.Help = true, .OutputDir = "/outdef", .TempDir = "/tmpdef"}},
      // A command-line value is passed on as typed: it is made absolute only
      // after this step.
      {{"--output-dir", "out"},
       "--output-dir '\"'",
       "--output-dir \"out\"",
       {.OutputDir = Abs("out"), .TempDir = "/tmpdef"}},
      {{},
       "--yara-dir 'a b' --offline /o",
       "--yara-dir \"" + Abs("a b") + "\" --offline \"/o\"",
       {.Offline = "/o", .OutputDir = "/outdef", .TempDir = "/tmpdef", .YaraDir = Abs("a b")}},
      // The lenient nested parse stops at "--output-dir": "--kill" (an
      // earlier row) is set, "--no-check" (a later one) is not.
      {{},
       "foo --kill bar --no-check --output-dir",
       "foo --kill bar --no-check --output-dir",
       {.Kill = true, .OutputDir = "/outdef", .TempDir = "/tmpdef"}},
      {{}, "", "", {.OutputDir = "/outdef", .TempDir = "/tmpdef"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    // The last case ends with a directory name: only the lenient pass accepts it.
    const bool strict_fails = c.text.ends_with("--output-dir");
    for (bool lenient : {false, true}) {
      Result<Parameters> got = Parse(c.words, c.text, lenient);
      if (strict_fails && !lenient) {
        EXPECT_EQ(ErrorOf(got), "not enough arguments for --output-dir");
        continue;
      }
      ASSERT_TRUE(got.ok()) << got.error().message;
      Parameters p = *got;
      DecryptedParams passed = Open(p.EncryptedParamsValue);
      EXPECT_EQ(passed.Data, c.new_text);
      EXPECT_EQ(passed.Version, 7u);
      EXPECT_EQ(passed.CryptType.str(), "rc4");
      EXPECT_EQ(passed.OptionalEntropy, kKey);
      p.EncryptedParamsValue.clear();
      EXPECT_TRUE(p == c.want) << "TempDir " << p.TempDir << " OutputDir " << p.OutputDir;
    }
  }
}

// A value holding quotes or backslashes must reach the payload unchanged
// when it splits the text the way the installer does.
TEST_F(EncryptedParamsStepTest, RequotedValuesSplitBackToTheValue) {
  const std::string text = R"(--temp-dir 'q"u\o\' --debug-dir "d\\")";
  Result<Parameters> got = Parse({}, text);
  ASSERT_TRUE(got.ok()) << got.error().message;
  EXPECT_EQ(got->TempDir, Abs(R"(q"u\o\)"));
  EXPECT_EQ(got->DebugDir, Abs(R"(d\)"));
  Result<std::vector<std::string>> words =
      encryptedparams::Parse(Open(got->EncryptedParamsValue).Data);
  ASSERT_TRUE(words.ok()) << words.error().message;
  EXPECT_EQ(*words,
            (std::vector<std::string>{"--temp-dir", got->TempDir, "--debug-dir", got->DebugDir}));
}

TEST_F(EncryptedParamsStepTest, DebugDirOfTheWordsIsTheOneCreated) {
  Result<Parameters> got = Parse({"--debug-dir", "e"}, "--debug-dir d/sub");
  ASSERT_TRUE(got.ok()) << got.error().message;
  EXPECT_EQ(got->DebugDir, Abs("d/sub"));
  EXPECT_TRUE(Exists(Abs("d/sub")));
  EXPECT_FALSE(Exists(Abs("e")));
}

TEST_F(EncryptedParamsStepTest, FailuresArePassedOnUnchanged) {
  auto error_of_subsystem = [](const std::string& value) {
    Result<EncryptedParams> e = encryptedparams::NewEncryptedParamsFromString(value);
    if (!e.ok()) return e.error().message;
    Result<DecryptedParams> d = e->Decrypt();
    return d.ok() ? std::string("(no error)") : d.error().message;
  };
  const std::string not_base64 = "!!not base64";
  const std::string not_json = "bm90IGpzb24=";  // "not json"
  const std::pair<std::string, std::string> cases[] = {
      {not_base64, error_of_subsystem(not_base64)},
      {not_json, error_of_subsystem(not_json)},
      {Record("--kill", 1, "RC4"), "unsupported type"},
      {Record("--kill", 1, "rc4", ""), "crypto/rc4: invalid key size 0"},
      {Record("--kill 'open"), "No closing quotation"},
      {Record("--kill \\"), "No escaped character"},
      {Record("--encrypted-params x"),
       "encrypted parameters can only be used with command line arguments"},
      {Record("--kill --kill"), "[-k|--kill] can only be present once"},
  };
  EXPECT_TRUE(cases[0].second.starts_with("illegal base64 data at input byte "));
  for (const auto& [value, want] : cases) {
    for (bool lenient : {false, true}) {
      // The step fails before the validation: the debug directory of the
      // command line is not created.
      Result<Parameters> got =
          ParseParameters({"/bin/installer", "--debug-dir", "dbg", "--encrypted-params", value},
                          "/tmpdef", "/outdef", lenient);
      if (lenient && want.starts_with("[-k|--kill]")) {
        ASSERT_TRUE(got.ok()) << got.error().message;
        EXPECT_TRUE(got->Kill);
        continue;
      }
      EXPECT_EQ(ErrorOf(got), want) << "lenient " << lenient;
      EXPECT_FALSE(Exists(Abs("dbg")));
    }
  }
}

TEST(EncryptedParamsStep, NestedRecordIsRefused) {
  Parameters record{.EncryptedParamsValue = "anything"};
  auto never = [](const std::vector<std::string>&) -> Result<Parameters> {
    ADD_FAILURE() << "a nested record's words are not parsed";
    return Parameters{};
  };
  Status s = ApplyEncryptedParams(record, "/bin/installer", false, never);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message, "encrypted parameters can only be used with command line arguments");
  EXPECT_EQ(record.EncryptedParamsValue, "anything");
}

}  // namespace
}  // namespace quorvane
