// Encrypted parameter records given to the real installer: what the payload
// receives, where the log goes, and how bad records end the run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "encryptedparams/base64.h"
#include "encryptedparams/encrypted_params.h"
#include "encryptedparams/parse.h"
#include "support/installer_fixture.h"
#include "support/log_lines.h"
#include "support/payload_fixture.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using encryptedparams::Base64Encode;
using encryptedparams::DecryptedParams;
using encryptedparams::EncryptedParams;
using test::Lines;
using test::LogLines;
using test::ReadFile;
using test::ScratchDir;

constexpr char kKey[] = "k3y";

// The --encrypted-params value that carries text, as a client makes it.
std::string Record(const std::string& text, const std::string& key = kKey, uint64_t ver = 1) {
  Result<EncryptedParams> e = DecryptedParams{ver, "rc4", text, key}.Encrypt();
  if (!e.ok()) ADD_FAILURE() << e.error().message;
  return e.ok() ? e->ToOptionValue() : "";
}

// A JSON record whose data is text under key, its members after before.
std::string RecordJSON(const std::string& before, const std::string& text,
                       const std::string& key = kKey) {
  Result<EncryptedParams> e = DecryptedParams{1, "rc4", text, key}.Encrypt();
  return before + "\"ver\":1,\"type\":\"rc4\",\"data\":\"" + (e.ok() ? e->Data : "") +
         "\",\"entropy\":\"" + key + "\"}";
}

// The plain text of a record, or "<error: ...>".
std::string TextOf(const std::string& value) {
  Result<EncryptedParams> e = encryptedparams::NewEncryptedParamsFromString(value);
  if (!e.ok()) return "<error: " + e.error().message + ">";
  Result<DecryptedParams> d = e->Decrypt();
  if (!d.ok()) return "<error: " + d.error().message + ">";
  return d->Data;
}

// The text of the error that decoding or decrypting value gives; "" when
// it gives none.
std::string ErrorOf(const std::string& value) {
  Result<EncryptedParams> e = encryptedparams::NewEncryptedParamsFromString(value);
  if (!e.ok()) return e.error().message;
  Result<DecryptedParams> d = e->Decrypt();
  return d.ok() ? "" : d.error().message;
}

// A literal with its NUL bytes.
template <size_t N>
std::string Bytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

// s with every "{name}" replaced.
std::string Fill(std::string s, const std::vector<std::pair<std::string, std::string>>& vars) {
  for (const auto& [name, value] : vars) {
    const std::string token = "{" + name + "}";
    for (size_t at = s.find(token); at != std::string::npos;
         at = s.find(token, at + value.size())) {
      s.replace(at, token.size(), value);
    }
  }
  return s;
}

Lines SplitLines(const std::string& s) {
  Lines out;
  size_t start = 0;
  for (size_t nl = s.find('\n'); nl != std::string::npos; nl = s.find('\n', start)) {
    out.push_back(s.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

std::string Join(const Lines& words) {
  std::string out;
  for (size_t i = 0; i < words.size(); ++i) out += (i ? " " : "") + words[i];
  return out;
}

class EncryptedParamsE2ETest : public test::UmaskTest {
 protected:
  void SetUp() override {
    for (const std::string& d : {work_, tmp_}) chmod(d.c_str(), 0755);
  }

  // The payload notes its arguments, one a line, in a file outside the
  // install directory, then runs body.
  test::InstallerRun RunInstaller(const Lines& words, const std::string& body = "") {
    const std::string program = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$QV_PROBE\"\n" + body;
    const std::string installer = dir_.Pack(program, dir_.path());
    test::RunOptions options;
    options.env = Lines{"PWD=" + work_, "TMPDIR=" + tmp_, "QV_PROBE=" + probe_};
    options.cwd = work_;
    return dir_.RunInstaller(installer, words, options);
  }

  // The install directory, from the line that starts the payload.
  static std::string InstallDirOf(const Lines& log) {
    const std::string marker = "[INFO ] Running: ";
    for (const std::string& l : log) {
      if (l.rfind(marker, 0) != 0) continue;
      const std::string main = l.substr(marker.size(), l.find(' ', marker.size()) - marker.size());
      return main.substr(0, main.rfind('/'));
    }
    ADD_FAILURE() << "no Running line in " << ::testing::PrintToString(log);
    return "<none>";
  }

  // The lines of a run that the parse ended, in the default temporary
  // directory, each after its time stamp.
  Lines ParseFailureLog(const Lines& words, const std::string& error) {
    return {"[INFO ] Quorvane v1.0.0.251113 (stable @ 1763047587)",
            "[INFO ] Starting Quorvane installer ...",
            "[INFO ] Running from: " + dir_.path(),
            "[INFO ] Installer arguments: " + Join(words),
            "[ERROR] Parse arguments error. (" + error + ")",
            "[INFO ] End, success.",
            "",
            "",
            ""};
  }

  // Runs words that the strict parse refuses: exit -1, the log in TMPDIR,
  // nothing else made there.
  void ExpectParseFailure(const Lines& words, const std::string& error) {
    test::ProcessResult r = RunInstaller(words);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(LogLines(ReadFile(tmp_ + "/Quorvane_i.log")), ParseFailureLog(words, error));
    EXPECT_FALSE(test::Exists(probe_));
    EXPECT_EQ(Entries(tmp_), Lines{"Quorvane_i.log"});
  }

  static Lines Entries(const std::string& dir) {
    Lines names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
      names.push_back(e.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  test::InstallerSandbox dir_{{"work", "tmp"}};
  const std::string& s_ = dir_.path();
  std::string work_ = dir_ / "work";
  std::string tmp_ = dir_ / "tmp";
  std::string probe_ = dir_ / "args";
};

struct FlowCase {
  const char* name;
  Lines words;           // the command line; "{R}" is the record
  std::string text;      // the record's plain text
  std::string key;       // its key
  uint64_t ver;          // and version
  std::string new_text;  // the text that the payload's record carries
  Lines payload_args;    // "{R2}" is the re-encrypted record, "{D}" the install directory
  std::string log_dir;   // where the installer log is written
};

// The record's words override the command line; the payload gets the
// re-encrypted record, its directory values re-quoted, and an argument
// list built from the words that were typed.
TEST_F(EncryptedParamsE2ETest, RecordValuesReachThePayload) {
  const FlowCase cases[] = {
      {"record gives output and debug directories, relative temp, = form",
       {"--encrypted-params", "{R}"},
       "--output-dir {S}/srv/out --debug-dir \"{S}/d 2\"  --temp-dir rel/t --yara-dir=rules "
       "--offline 'q\"u\\o te' leftover",
       kKey,
       1,
       "--output-dir \"{S}/srv/out\" --debug-dir \"{S}/d 2\" --temp-dir \"{W}/rel/t\" "
       "--yara-dir=rules --offline \"{W}/q\\\"u\\\\o te\" leftover",
       {"--encrypted-params", "{R2}", "--debug-dir", "{D}", "--output-dir", "{S}/srv/out",
        "--temp-dir", "{D}"},
       "{S}/d 2"},
      // --no-check comes before --debug-dir in the option order, so the
      // record's --debug-dir has an empty value and the command line's
      // relative one stands in the new text as typed.
      {"command-line values as typed; the payload list follows the typed words",
       {"--debug-dir", "dbgrel", "--encrypted-params", "{R}", "--temp-dir", "tmpcl"},
       "--debug-dir --no-check --output-dir out2",
       "k\"<\x01&\xe2\x80\xa8",
       7,
       "--debug-dir \"dbgrel\" --output-dir \"{W}/out2\"",
       {"--debug-dir", "{W}/dbgrel", "--encrypted-params", "{R2}", "--temp-dir", "{D}",
        "--output-dir", "{W}/out2"},
       "{W}/dbgrel"},
      {"a text without words changes nothing",
       {"--encrypted-params", "{R}", "--debug-dir", "{S}/dn"},
       Bytes(" \t\n\xc2\xa0 \"\" ''\0\0\0"),
       kKey,
       0,
       "",
       {"--encrypted-params", "{R2}", "--debug-dir", "{S}/dn", "--output-dir", "{S}", "--temp-dir",
        "{D}"},
       "{S}/dn"},
      // Invalid UTF-8 bytes become U+FFFD; a NUL inside a word stays in the
      // re-encrypted text, and this word never reaches the argument list.
      {"invalid UTF-8 and NUL bytes in the text",
       {"--encrypted-params", "{R}", "--debug-dir", "{S}/du"},
       Bytes("--output-dir out\xff\x80 --yara-dir=a\0b\0\0"),
       kKey,
       1,
       Bytes("--output-dir \"{W}/out\xef\xbf\xbd\xef\xbf\xbd\" --yara-dir=a\0b"),
       {"--encrypted-params", "{R2}", "--debug-dir", "{S}/du", "--output-dir",
        "{W}/out\xef\xbf\xbd\xef\xbf\xbd", "--temp-dir", "{D}"},
       "{S}/du"},
  };
  for (const FlowCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::pair<std::string, std::string>> base{{"S", s_}, {"W", work_}};
    const std::string record = Record(Fill(c.text, base), c.key, c.ver);
    Lines words;
    for (const std::string& w : c.words) words.push_back(w == "{R}" ? record : Fill(w, base));
    unlink(probe_.c_str());

    test::ProcessResult r = RunInstaller(words);
    EXPECT_EQ(r.exit_status, 0) << r.err;

    const std::string new_text = Fill(c.new_text, base);
    const std::string r2 = Record(new_text, c.key, c.ver);
    const std::string log_dir = Fill(c.log_dir, base);
    const Lines log = LogLines(ReadFile(log_dir + "/Quorvane_i.log"));
    const std::string install_dir = InstallDirOf(log);
    std::vector<std::pair<std::string, std::string>> vars = base;
    vars.push_back({"R2", r2});
    vars.push_back({"D", install_dir});
    Lines expected;
    for (const std::string& w : c.payload_args) expected.push_back(Fill(w, vars));

    const Lines got = SplitLines(ReadFile(probe_));
    EXPECT_EQ(got, expected);
    // The same text, read back from what the payload received.
    const auto at = std::find(got.begin(), got.end(), "--encrypted-params");
    if (at != got.end() && at + 1 != got.end()) {
      EXPECT_EQ(::testing::PrintToString(TextOf(at[1])), ::testing::PrintToString(new_text));
    }
    EXPECT_NE(std::find(log.begin(), log.end(), "[INFO ] Installer arguments: " + Join(words)),
              log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "[INFO ] quorvane args: " + Join(expected)),
              log.end());
    EXPECT_EQ(log.size() >= 4 ? log[log.size() - 4] : "", "[INFO ] End, success.");
    EXPECT_FALSE(test::Exists(install_dir));
    EXPECT_FALSE(test::Exists(tmp_ + "/Quorvane_i.log"));
  }
}

// Splitting the new text gives back each merged value, blanks, quotes and
// backslashes included, and the record keeps its version and key.
TEST_F(EncryptedParamsE2ETest, RequotedValuesSplitBackIntoTheMergedValues) {
  const std::string text = "--debug-dir '" + s_ + "/d \"x\" \\y' --temp-dir=t --offline 'a\\\"b'";
  test::ProcessResult r = RunInstaller({"--encrypted-params", Record(text, "\xc3\xa9k", 42)});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const Lines got = SplitLines(ReadFile(probe_));
  ASSERT_GE(got.size(), 2u);
  Result<EncryptedParams> e = encryptedparams::NewEncryptedParamsFromString(got[1]);
  ASSERT_TRUE(e.ok()) << e.error().message;
  EXPECT_EQ(e->Version, 42u);
  EXPECT_EQ(e->CryptType, encryptedparams::CryptType("rc4"));
  EXPECT_EQ(e->OptionalEntropy, "\xc3\xa9k");
  Result<std::vector<std::string>> words = encryptedparams::Parse(TextOf(got[1]));
  ASSERT_TRUE(words.ok()) << words.error().message;
  const std::string debug = s_ + "/d \"x\" \\y";
  EXPECT_EQ(*words, (Lines{"--debug-dir", debug, "--temp-dir=t", "--offline", work_ + "/a\\\"b"}));
  // The record's debug directory was created and holds the log.
  EXPECT_EQ(test::ModeOf(debug), 0640u);
  EXPECT_TRUE(test::Exists(debug + "/Quorvane_i.log"));
  // The "=" form made the temporary directory absolute under the working
  // directory, where the install directory was made.
  const std::string install_dir = InstallDirOf(LogLines(ReadFile(debug + "/Quorvane_i.log")));
  EXPECT_EQ(install_dir.rfind(work_ + "/t/quorvane_", 0), 0u) << install_dir;
}

// --help in the record gives the help form; the debug directory of the
// command line is left alone.
TEST_F(EncryptedParamsE2ETest, HelpInTheRecordGivesTheHelpForm) {
  test::ProcessResult r = RunInstaller(
      {"--debug-dir", s_ + "/dh", "--encrypted-params", Record("-h --yara-dir /nonexistent/x")});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(ReadFile(probe_), "--help\n" + s_ + "\n");
  const Lines log = LogLines(ReadFile(s_ + "/dh/Quorvane_i.log"));
  EXPECT_NE(std::find(log.begin(), log.end(), "[INFO ] quorvane args: --help " + s_), log.end());
}

// A debug directory that only the record names receives the log; the crash
// dump goes to the install directory.
TEST_F(EncryptedParamsE2ETest, RecordDebugDirTakesTheLogButNotTheCrashDump) {
  const std::string debug = s_ + "/dd";
  test::ProcessResult r = RunInstaller({"--encrypted-params", Record("--debug-dir " + debug)},
                                       "printf 'runtime: out of memory: x' >&2; exit 2\n");
  EXPECT_EQ(r.exit_status, 240);
  const Lines log = LogLines(ReadFile(debug + "/Quorvane_i.log"));
  const std::string install_dir = InstallDirOf(log);
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "[FATAL] Quorvane unexpectedly terminated. Reason: out of memory. "
                      "Stacktrace dump saved to: " +
                          install_dir + "/quorvane.dmp"),
            log.end());
  EXPECT_FALSE(test::Exists(debug + "/quorvane.dmp"));
  EXPECT_EQ(Entries(debug), Lines{"Quorvane_i.log"});
}

struct BadRecord {
  const char* name;
  std::string value;  // the word after --encrypted-params
  std::string error;  // the text in the log line
};

TEST_F(EncryptedParamsE2ETest, MalformedRecordsEndTheParse) {
  const std::string file = s_ + "/plain";
  test::WriteFile(file, "x");
  const std::string bad_json = Base64Encode("{\"ver\":1,\"type\":\"rc4\"");
  const std::string string_ver = Base64Encode("{\"ver\":\"1\"}");
  const BadRecord cases[] = {
      {"bad Base64", "eyJ2ZXIi$jF9", "illegal base64 data at input byte 8"},
      {"unpadded Base64", "eyJ2ZXIiOjF9eyJ", "illegal base64 data at input byte 12"},
      {"truncated JSON", bad_json, ErrorOf(bad_json)},
      {"ver as a string", string_ver, ErrorOf(string_ver)},
      {"type RC4", Base64Encode("{\"ver\":1,\"type\":\"RC4\",\"data\":\"\",\"entropy\":\"k\"}"),
       "unsupported type"},
      {"top-level null", Base64Encode(" null "), "unsupported type"},
      {"bad Base64 in data",
       Base64Encode("{\"ver\":1,\"type\":\"rc4\",\"data\":\"ab c=\",\"entropy\":\"k\"}"),
       "illegal base64 data at input byte 2"},
      {"no key", Base64Encode("{\"ver\":1,\"type\":\"rc4\",\"data\":\"AAAA\"}"),
       "crypto/rc4: invalid key size 0"},
      {"long key", Base64Encode(RecordJSON("{", "x", std::string(257, 'k'))),
       "crypto/rc4: invalid key size 257"},
      {"unclosed double quote", Record("--output-dir \"/srv/out"), "No closing quotation"},
      {"unclosed single quote", Record("--output-dir '/srv/out \\\""), "No closing quotation"},
      {"trailing backslash", Record("--output-dir /srv/out\\"), "No escaped character"},
      {"record in a record", Record("--kill --encrypted-params " + Record("--kill")),
       "encrypted parameters can only be used with command line arguments"},
      {"directory name last", Record("--kill --temp-dir"), "not enough arguments for --temp-dir"},
      {"repeated option", Record("-k --kill"), "[-k|--kill] can only be present once"},
      {"debug directory is a file", Record("--debug-dir " + file),
       "debug parameter value \"" + file + "\" is not a directory"},
  };
  for (const BadRecord& c : cases) {
    SCOPED_TRACE(c.name);
    unlink((tmp_ + "/Quorvane_i.log").c_str());
    unlink(probe_.c_str());
    ExpectParseFailure({"--encrypted-params", c.value}, c.error);
  }
}

// Deep nesting in an ignored member, long values and odd bytes: each run
// ends with its exit status and log line. A single argument of more than
// 128 KiB is refused by the system before the installer starts, so these
// stay under that size; bigger records are decoded directly below.
TEST_F(EncryptedParamsE2ETest, HostileRecordsEndCleanly) {
  struct Hostile {
    const char* name;
    std::string json;   // the record before Base64
    std::string error;  // empty: the run succeeds
  };
  const std::string ok_text = "--output-dir out";
  const int closed = 48000, open = 97000;
  const std::string deep_closed =
      RecordJSON("{\"x\":" + std::string(closed, '[') + std::string(closed, ']') + ",", ok_text);
  const std::string deep_objects = "{\"x\":" + [] {
    std::string s;
    for (int i = 0; i < 19000; ++i) s += "{\"a\":";
    return s;
  }();
  std::string bytes = "{\"x\":\"";
  for (int i = 0; i < 4000; ++i) bytes += "\xff\xc0\x80\xed\xa0\x80\\u0000\\ud800";
  const Hostile cases[] = {
      {"48,000 closed levels of [", deep_closed, ""},
      {"97,000 unclosed levels of [", "{\"x\":" + std::string(open, '['), "error"},
      {"19,000 unclosed levels of {", deep_objects, "error"},
      {"invalid UTF-8 and NUL escapes in an ignored string", RecordJSON(bytes + "\",", ok_text),
       ""},
      {"a raw NUL in a string", RecordJSON("{\"x\":\"a" + std::string(1, '\0') + "b\",", ok_text),
       "error"},
      {"long leftover words",
       RecordJSON("{", ok_text + std::string(60000, ' ') + std::string(10000, 'w')), ""},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string value = Base64Encode(c.json);
    ASSERT_LT(value.size(), 131072u);
    unlink((tmp_ + "/Quorvane_i.log").c_str());
    unlink(probe_.c_str());
    const auto start = std::chrono::steady_clock::now();
    test::ProcessResult r = RunInstaller({"--encrypted-params", value, "--debug-dir", s_ + "/dh"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    if (c.error.empty()) {
      EXPECT_EQ(r.exit_status, 0) << r.err;
      const Lines got = SplitLines(ReadFile(probe_));
      ASSERT_EQ(got.size(), 8u);
      EXPECT_EQ(got[4], "--output-dir");
      EXPECT_EQ(got[5], work_ + "/out");
      EXPECT_EQ(TextOf(got[1]).rfind("--output-dir \"" + work_ + "/out\"", 0), 0u);
    } else {
      const std::string error = ErrorOf(value);
      ASSERT_NE(error, "");
      ExpectParseFailure({"--encrypted-params", value, "--debug-dir", s_ + "/dh"}, error);
    }
  }
}

// A NUL byte can reach a directory value only through a record. The system
// would read such a path up to the NUL and so name another directory; it is
// refused instead, as an invalid argument, and nothing is made in its place.
TEST_F(EncryptedParamsE2ETest, NulBytesInDirectoryValuesAreRefused) {
  const std::string nul(1, '\0');
  struct NulCase {
    const char* name;
    std::string text;
    int status;
    std::string log;    // the file that holds the log
    std::string error;  // the line before the closing one, "{D}" the install directory
  };
  const std::string a = s_ + "/a" + nul + "b", t = s_ + "/t" + nul + "u";
  const NulCase cases[] = {
      {"debug directory", "--debug-dir " + a, 255, tmp_ + "/Quorvane_i.log",
       "[ERROR] Parse arguments error. (invalid debug directory \"" + a + "\", error: stat " + a +
           ": invalid argument)"},
      {"temporary directory", "--temp-dir " + t, 254, tmp_ + "/Quorvane_i.log",
       "[ERROR] Invalid temporary directory " + t + ". (stat " + t + ": invalid argument)"},
      {"output directory", "--output-dir " + s_ + "/o" + nul + "p", 242, s_ + "/dl/Quorvane_i.log",
       "[ERROR] Cannot run quorvane. (fork/exec {D}/quorvane: invalid argument)"},
  };
  for (const NulCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::ProcessResult r =
        RunInstaller({"--encrypted-params", Record(c.text), "--debug-dir", s_ + "/dl"});
    EXPECT_EQ(r.exit_status, c.status);
    const Lines log = LogLines(ReadFile(c.log));
    ASSERT_GE(log.size(), 5u);
    const std::string install_dir = c.status == 242 ? InstallDirOf(log) : "";
    const auto end = std::find(log.begin(), log.end(), "[INFO ] End, success.");
    ASSERT_NE(end, log.end());
    // The install directory's removal may come between.
    EXPECT_NE(std::find(log.begin(), end, Fill(c.error, {{"D", install_dir}})), end);
    EXPECT_FALSE(test::Exists(probe_));
    EXPECT_FALSE(test::Exists(s_ + "/a"));
    EXPECT_FALSE(test::Exists(s_ + "/t"));
    EXPECT_FALSE(test::Exists(s_ + "/o"));
    if (!install_dir.empty()) {
      EXPECT_FALSE(test::Exists(install_dir));
    }
    unlink((tmp_ + "/Quorvane_i.log").c_str());
  }
}

// A record holding --encrypted-params ends the run with the parse error,
// the installer's own words in the late log.
TEST(EncryptedParamsStep, InstallerEndsOnARecordInsideARecord) {
  test::InstallerSandbox dir{test::Words{}};
  const std::string value = Record("--no-delete --encrypted-params x", "s3cr\"et<", 7);
  test::RunOptions options;
  options.argv0 = "installer";
  options.env = Lines{"TMPDIR=" + dir.path()};
  options.cwd = dir.path();
  test::InstallerRun r =
      dir.RunInstaller(test::InstallerBinary(), {"--encrypted-params", value}, options);
  EXPECT_EQ(r.exit_status, 255);
  const Lines& lines = r.log_lines;
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[3], "[INFO ] Installer arguments: --encrypted-params " + value);
  EXPECT_EQ(
      lines[4],
      "[ERROR] Parse arguments error. (encrypted parameters can only be used with command line "
      "arguments)");
}

// Records far beyond what a command line can carry: decoding stays linear
// and never recurses per level.
TEST(EncryptedParamsLargeRecordTest, MegabyteRecordsDecode) {
  const int levels = 1000000;
  std::string json = "{\"x\":[" + std::string(levels, '[') + std::string(levels, ']') + ",\"" +
                     std::string(3 << 20, 'z') + "\"],";
  json = RecordJSON(json, std::string(1 << 20, ' ') + "--kill " + std::string(1 << 20, 'w'));
  const auto start = std::chrono::steady_clock::now();
  Result<EncryptedParams> e = encryptedparams::NewEncryptedParamsFromString(Base64Encode(json));
  ASSERT_TRUE(e.ok()) << e.error().message;
  Result<DecryptedParams> d = e->Decrypt();
  ASSERT_TRUE(d.ok()) << d.error().message;
  Result<std::vector<std::string>> words = encryptedparams::Parse(d->Data);
  ASSERT_TRUE(words.ok()) << words.error().message;
  EXPECT_EQ(*words, (Lines{"--kill", std::string(1 << 20, 'w')}));

  Result<EncryptedParams> unclosed = encryptedparams::NewEncryptedParamsFromString(
      Base64Encode("{\"x\":" + std::string(4 << 20, '[')));
  EXPECT_FALSE(unclosed.ok());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
}  // namespace quorvane
