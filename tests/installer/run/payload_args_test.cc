#include "installer/run/payload_args.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/path.h"
#include "installer/constants.h"
#include "installer/run/exit_codes.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::LogLines;
using test::ReadFile;
using test::ScratchDir;
using test::Words;

const char kInstallerDir[] = "/opt/kit";
const char kDottedI[] = "\xc4\xb0";  // U+0130, whose simple lower-case mapping is "i"

// A scratch tree with a working directory $W (cwd and PWD while the test
// runs), existing directories $S/rules and $S/dbg, a regular file $S/passwd
// and an install directory path $D. Words and expectations name them by these
// placeholders.
class PayloadArgsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = scratch_ / "home";
    install_dir_ = scratch_ / "tmp/quorvane_1234";
    ASSERT_EQ(mkdir(work_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((scratch_ / "rules").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((scratch_ / "dbg").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((scratch_ / "logs").c_str(), 0755), 0);
    test::WriteFile(scratch_ / "passwd", "root:x:0:0\n");
    ASSERT_EQ(symlink("rules", (scratch_ / "rules-link").c_str()), 0);
    ASSERT_EQ(symlink("gone", (scratch_ / "dangling").c_str()), 0);
    ASSERT_EQ(symlink("loop", (scratch_ / "loop").c_str()), 0);

    char buf[4096];
    ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
    old_cwd_ = buf;
    const char* pwd = std::getenv("PWD");
    had_pwd_ = pwd != nullptr;
    if (had_pwd_) old_pwd_ = pwd;
    ASSERT_EQ(chdir(work_.c_str()), 0);
    setenv("PWD", work_.c_str(), 1);
  }

  void TearDown() override {
    EXPECT_EQ(chdir(old_cwd_.c_str()), 0);
    if (had_pwd_) {
      setenv("PWD", old_pwd_.c_str(), 1);
    } else {
      unsetenv("PWD");
    }
  }

  std::string Expand(std::string s) const {
    const std::pair<std::string, std::string> vars[] = {
        {"$W", work_}, {"$S", scratch_.path()}, {"$D", install_dir_}};
    for (const auto& [var, value] : vars) {
      for (size_t at = s.find(var); at != std::string::npos; at = s.find(var, at + value.size())) {
        s.replace(at, var.size(), value);
      }
    }
    return s;
  }

  Words Expand(const Words& words) const {
    Words out;
    for (const std::string& w : words) out.push_back(Expand(w));
    return out;
  }

  struct Outcome {
    int code = 0;
    Words args;
    Words log;
  };

  // Runs the step with its own log; args start as a sentinel so that an
  // unchanged list shows.
  Outcome Build(const Words& words, Parameters& params) {
    const std::string log_path = scratch_ / ("logs/" + std::to_string(++runs_) + ".log");
    Outcome out;
    {
      RunState run;
      run.log.initInstallerLog(log_path, true);
      run.argv = {"./installer"};
      for (const std::string& w : Expand(words)) run.argv.push_back(w);
      run.params = params;
      run.installerDir = kInstallerDir;
      run.installDir = install_dir_;
      run.payloadArgs = {"sentinel"};
      BuildPayloadArgs(run);
      out.code = run.exitCode;
      out.args = run.payloadArgs;
      params = run.params;
    }
    out.log = LogLines(ReadFile(log_path));
    return out;
  }

  static std::string ArgsLine(const Words& args) {
    std::string line = "[INFO ] quorvane args:";
    for (const std::string& w : args) line += " " + w;
    return line;
  }

  ScratchDir scratch_;
  std::string work_;
  std::string install_dir_;
  std::string old_cwd_;
  std::string old_pwd_;
  bool had_pwd_ = false;
  int runs_ = 0;
};

struct SuccessCase {
  const char* what;
  Words words;
  std::function<void(Parameters&)> parsed;  // what the parse made of the words
  Words expected;
  std::string debug_dir;  // Parameters.DebugDir afterwards
};

Parameters Defaults() {
  Parameters p;
  p.OutputDir = kInstallerDir;
  p.TempDir = "/tmp";
  return p;
}

void None(Parameters&) {}

TEST_F(PayloadArgsTest, BuildsTheListFromTheTypedWords) {
  const std::string out_dotted = std::string("--output-d") + kDottedI + "r";
  const std::string temp_dotted = std::string("--temp-d") + kDottedI + "r";
  const SuccessCase cases[] = {
      {"no words",
       {},
       None,
       {"--debug-dir", "$D", "--output-dir", "/opt/kit", "--temp-dir", "$D"},
       "$D"},
      {"relative output dir",
       {"--output-dir", "out"},
       [](Parameters& p) { p.OutputDir = "$W/out"; },
       {"--output-dir", "$W/out", "--debug-dir", "$D", "--temp-dir", "$D"},
       "$D"},
      {"yara dir and temp dir",
       {"--yara-dir", "$S/rules", "--temp-dir", "/var/tmp"},
       None,
       {"--yara-dir", "$S/rules", "--temp-dir", "$D", "--debug-dir", "$D", "--output-dir",
        "/opt/kit"},
       "$D"},
      {"kill keeps a relative temp dir",
       {"--kill", "--temp-dir", "tmp2"},
       [](Parameters& p) { p.Kill = true; },
       {"--kill", "--temp-dir", "tmp2", "--debug-dir", "$D"},
       "$D"},
      {"kill with a debug dir adds nothing",
       {"--debug-dir", "$S/dbg", "-k"},
       [](Parameters& p) {
         p.Kill = true;
         p.DebugDir = "$S/dbg";
       },
       {"--debug-dir", "$S/dbg", "-k"},
       "$S/dbg"},
      {"= forms are ordinary words",
       {"--output-dir=out", "--yara-dir=$S/none", "--offline=x", "--encrypted-params=x"},
       [](Parameters& p) {
         p.OutputDir = "$W/out";
         p.YaraDir = "$S/none";
       },
       {"--output-dir=out", "--yara-dir=$S/none", "--offline=x", "--encrypted-params=x",
        "--debug-dir", "$D", "--output-dir", "$W/out", "--temp-dir", "$D"},
       "$D"},
      {"temp dir = form",
       {"--temp-dir=/var/tmp"},
       None,
       {"--temp-dir=/var/tmp", "--debug-dir", "$D", "--output-dir", "/opt/kit", "--temp-dir", "$D"},
       "$D"},
      {"debug dir = form still moves the crash dump",
       {"--debug-dir=$S/dbg"},
       [](Parameters& p) { p.DebugDir = "$S/dbg"; },
       {"--debug-dir=$S/dbg", "--debug-dir", "$D", "--output-dir", "/opt/kit", "--temp-dir", "$D"},
       "$D"},
      {"upper-case output dir",
       {"--OUTPUT-DIR", "out"},
       None,
       {"--OUTPUT-DIR", "$W/out", "--debug-dir", "$D", "--temp-dir", "$D"},
       "$D"},
      {"dotted capital I lower-cases to i",
       {out_dotted, "out"},
       None,
       {out_dotted, "$W/out", "--debug-dir", "$D", "--temp-dir", "$D"},
       "$D"},
      {"mixed-case temp dir",
       {"--Temp-Dir", "/var/tmp"},
       None,
       {"--Temp-Dir", "$D", "--debug-dir", "$D", "--output-dir", "/opt/kit"},
       "$D"},
      {"dotted capital I does not fold to i",
       {temp_dotted, "x"},
       None,
       {temp_dotted, "x", "--debug-dir", "$D", "--output-dir", "/opt/kit", "--temp-dir", "$D"},
       "$D"},
      {"only the first temp dir is replaced",
       {"--TEMP-DIR", "a", "--temp-dir", "b"},
       [](Parameters& p) { p.TempDir = "$W/b"; },
       {"--TEMP-DIR", "$D", "--temp-dir", "b", "--debug-dir", "$D", "--output-dir", "/opt/kit"},
       "$D"},
      {"mixed-case debug dir keeps the parsed (empty) value",
       {"--Debug-Dir", "$S/dbg"},
       None,
       {"--Debug-Dir", "$S/dbg", "--output-dir", "/opt/kit", "--temp-dir", "$D"},
       ""},
      {"ignored encrypted params give an empty word",
       {"--Encrypted-Params", "R"},
       None,
       {"--Encrypted-Params", "", "--debug-dir", "$D", "--output-dir", "/opt/kit", "--temp-dir",
        "$D"},
       "$D"},
      {"encrypted params replaced by the re-encrypted record",
       {"--encrypted-params", "R"},
       [](Parameters& p) {
         p.EncryptedParamsValue = "R2";
         p.OutputDir = "/srv/out";
         p.DebugDir = "$S/dbg";
       },
       {"--encrypted-params", "R2", "--debug-dir", "$D", "--output-dir", "/srv/out", "--temp-dir",
        "$D"},
       "$D"},
      {"empty offline passes on empty",
       {"--offline", ""},
       None,
       {"--offline", "", "--debug-dir", "$D", "--output-dir", "/opt/kit", "--temp-dir", "$D"},
       "$D"},
      {"offline is only made absolute",
       {"--offline", "$S/passwd/../x/", "--OFFLINE", "mnt"},
       None,
       {"--offline", "$S/x", "--OFFLINE", "$W/mnt", "--debug-dir", "$D", "--output-dir", "/opt/kit",
        "--temp-dir", "$D"},
       "$D"},
      {"an option name is a value after an option",
       {"--offline", "--debug-dir"},
       None,
       {"--offline", "$W/--debug-dir", "--debug-dir", "$D", "--output-dir", "/opt/kit",
        "--temp-dir", "$D"},
       "$D"},
      {"a temp dir consumed as a value is no match",
       {"--output-dir", "--temp-dir"},
       None,
       {"--output-dir", "$W/--temp-dir", "--debug-dir", "$D", "--temp-dir", "$D"},
       "$D"},
      {"a last word is never an option",
       {"--OUTPUT-DIR"},
       None,
       {"--OUTPUT-DIR", "--debug-dir", "$D", "--output-dir", "/opt/kit", "--temp-dir", "$D"},
       "$D"},
      // A typed temp-dir word without a value gets the install directory
      // inserted; the pairs added after it stay whole.
      {"last typed temp dir before added pairs",
       {"--Temp-Dir"},
       None,
       {"--Temp-Dir", "$D", "--debug-dir", "$D", "--output-dir", "/opt/kit"},
       "$D"},
      {"last typed temp dir with nothing added",
       {"--debug-dir", "$S/dbg", "--output-dir", "o", "--Temp-Dir"},
       [](Parameters& p) {
         p.DebugDir = "$S/dbg";
         p.OutputDir = "$W/o";
       },
       {"--debug-dir", "$S/dbg", "--output-dir", "$W/o", "--Temp-Dir", "$D"},
       "$S/dbg"},
      {"empty values become the working directory",
       {"--output-dir", "", "--yara-dir", "", "--debug-dir", ""},
       None,
       {"--output-dir", "$W", "--yara-dir", "$W", "--debug-dir", "$W", "--temp-dir", "$D"},
       ""},
      {"missing output dir, cleaned paths, a link to a directory",
       {"--output-dir", "$S/new/deeper/", "--yara-dir", "$S//rules/./", "--Debug-DIR",
        "$S/rules-link"},
       None,
       {"--output-dir", "$S/new/deeper", "--yara-dir", "$S/rules", "--Debug-DIR", "$S/rules-link",
        "--temp-dir", "$D"},
       ""},
      {"empty and odd words pass unchanged",
       {"a", "", "--no-delete", "-h=x", " b "},
       None,
       {"a", "", "--no-delete", "-h=x", " b ", "--debug-dir", "$D", "--output-dir", "/opt/kit",
        "--temp-dir", "$D"},
       "$D"},
  };
  for (const SuccessCase& c : cases) {
    SCOPED_TRACE(c.what);
    Parameters params = Defaults();
    c.parsed(params);
    params.DebugDir = Expand(params.DebugDir);
    params.OutputDir = Expand(params.OutputDir);
    Parameters expected_params = params;
    expected_params.DebugDir = Expand(c.debug_dir);

    Outcome out = Build(c.words, params);
    const Words expected = Expand(c.expected);
    EXPECT_EQ(out.code, 0);
    EXPECT_EQ(out.args, expected);
    EXPECT_EQ(params, expected_params);  // nothing else of the record changes
    EXPECT_EQ(out.log, Words{ArgsLine(expected)});
  }
  EXPECT_FALSE(test::Exists(scratch_ / "new"));  // resolving creates nothing
}

TEST_F(PayloadArgsTest, LogLineShowsEmptyWordsAsTwoBlanks) {
  Parameters params = Defaults();
  params.Kill = true;
  params.DebugDir = "/x";
  Outcome out = Build({"--debug-dir", "$S/dbg", "--offline", ""}, params);
  EXPECT_EQ(out.log, Words{Expand("[INFO ] quorvane args: --debug-dir $S/dbg --offline ")});
  out = Build({"", "-k"}, params);
  EXPECT_EQ(out.log, Words{Expand("[INFO ] quorvane args:  -k --debug-dir $D")});
}

TEST_F(PayloadArgsTest, HelpFormIgnoresTheWords) {
  for (const std::string& debug_dir : {std::string(), std::string("/var/dbg")}) {
    Parameters params = Defaults();
    params.Help = true;
    params.Kill = true;
    params.DebugDir = debug_dir;
    Parameters before = params;
    Outcome out = Build({"-h", "--yara-dir", "$S/none", "--output-dir", "$S/passwd"}, params);
    EXPECT_EQ(out.code, 0);
    EXPECT_EQ(out.args, (Words{"--help", "/opt/kit"}));
    EXPECT_EQ(params, before);
    EXPECT_EQ(out.log, Words{"[INFO ] quorvane args: --help /opt/kit"});
  }
}

TEST_F(PayloadArgsTest, UnusableValueEndsTheStepWithOneErrorLine) {
  const struct {
    Words words;
    std::string line;
  } cases[] = {
      {{"--yara-dir", "$S/none"},
       "[ERROR] $S/none directory doesn't exists. (stat $S/none: no such file or directory)"},
      {{"--DEBUG-DIR", "none"},
       "[ERROR] $W/none directory doesn't exists. (stat $W/none: no such file or directory)"},
      {{"--debug-dir", "$S/dangling"},
       "[ERROR] $S/dangling directory doesn't exists. (stat $S/dangling: no such file or "
       "directory)"},
      {{"--output-dir", "$S/passwd"},
       "[ERROR] Output parameter value \"$S/passwd\" is not a directory."},
      {{"--yara-dir", "../passwd"},
       "[ERROR] Yara parameter value \"$S/passwd\" is not a directory."},
      {{"--debug-dir", "$S/passwd"},
       "[ERROR] Debug parameter value \"$S/passwd\" is not a directory."},
      {{"--output-dir", "$S/passwd/x"},
       "[ERROR] Invalid output directory. (stat $S/passwd/x: not a directory)"},
      {{"--yara-dir", "$S/passwd/x"},
       "[ERROR] Invalid yara directory. (stat $S/passwd/x: not a directory)"},
      {{"--debug-dir", "$S/loop"},
       "[ERROR] Invalid debug directory. (stat $S/loop: too many levels of symbolic links)"},
      // The first failure stops the loop: the later bad value is not examined.
      {{"a", "--yara-dir", "$S/none", "--output-dir", "$S/passwd"},
       "[ERROR] $S/none directory doesn't exists. (stat $S/none: no such file or directory)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words[1]);
    Parameters params = Defaults();
    params.DebugDir = "/parsed";
    Parameters before = params;
    Outcome out = Build(c.words, params);
    EXPECT_EQ(out.code, exitBadDirectory);
    EXPECT_EQ(out.args, Words{"sentinel"});
    EXPECT_EQ(params, before);
    EXPECT_EQ(out.log, Words{Expand(c.line)});
  }
}

TEST_F(PayloadArgsTest, LostWorkingDirectoryFailsOnlyRelativeValues) {
  const std::string gone = scratch_ / "gone";
  ASSERT_EQ(mkdir(gone.c_str(), 0755), 0);
  ASSERT_EQ(chdir(gone.c_str()), 0);
  ASSERT_EQ(rmdir(gone.c_str()), 0);
  setenv("PWD", gone.c_str(), 1);

  Parameters params = Defaults();
  params.Kill = true;
  Outcome out = Build({"--yara-dir", "$S/rules", "--offline", "", "--output-dir", "o"}, params);
  EXPECT_EQ(out.code, exitBadDirectory);
  EXPECT_EQ(out.log,
            Words{"[ERROR] Cannot resolve output directory. (getwd: no such file or directory)"});

  out = Build({"--offline", "mnt"}, params);
  EXPECT_EQ(out.log,
            Words{"[ERROR] Cannot resolve offline directory. (getwd: no such file or directory)"});

  params = Defaults();
  params.Kill = true;
  out = Build({"--yara-dir", "$S/rules", "--offline", "", "--debug-dir", "$S/dbg"}, params);
  EXPECT_EQ(out.code, 0);
  EXPECT_EQ(out.args,
            Expand(Words{"--yara-dir", "$S/rules", "--offline", "", "--debug-dir", "$S/dbg"}));
}

TEST_F(PayloadArgsTest, ResolveDirWithoutChecksQueriesNothing) {
  InstallerLog log;
  log.initInstallerLog(scratch_ / "logs/r.log", true);
  Result<std::string> r = resolveDir(log, "offline", Expand("$S/passwd/x/../y"), false, false);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(*r, Expand("$S/passwd/y"));
  r = resolveDir(log, "output", Expand("$S/passwd/x"), true, false);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message,
            Expand("[ERROR] Invalid output directory. (stat $S/passwd/x: not a directory)"));
}

}  // namespace
}  // namespace quorvane
