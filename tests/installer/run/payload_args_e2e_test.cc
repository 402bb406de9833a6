// The payload's argument list in real runs of the installer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "common/path.h"
#include "support/installer_fixture.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::Words;

// The real installer: the list reaches its log, and a bad value ends the run
// with -2 after the install directory was made, which is then removed.
TEST(PayloadArgsRunTest, InstallerLogsTheListOrEndsWithBadDirectory) {
  test::InstallerSandbox dir{{"home", "tmp", "dbg"}};
  const std::string home = dir / "home", tmp = dir / "tmp", dbg = dir / "dbg";
  const std::string exe = test::InstallerBinary();
  test::RunOptions options;
  options.env = Words{"TMPDIR=" + tmp, "PWD=" + home};
  options.cwd = home;
  const auto args_lines = [](const Words& lines) {
    Words out;
    for (const std::string& l : lines) {
      if (l.rfind("[INFO ] quorvane args:", 0) == 0) out.push_back(l);
    }
    return out;
  };

  Words found = args_lines(
      dir.RunInstaller(exe, {"--debug-dir", dbg, "--Output-Dir", "out"}, options).log_lines);
  ASSERT_EQ(found.size(), 1u);
  const auto quote = [](const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
  };
  const std::regex line(quote("[INFO ] quorvane args: --debug-dir " + dbg + " --Output-Dir " +
                              home + "/out --temp-dir " + tmp + "/quorvane_") +
                        "[^ /]+");
  EXPECT_TRUE(std::regex_match(found[0], line)) << found[0];

  EXPECT_EQ(
      args_lines(dir.RunInstaller(exe, {"-h", "--debug-dir", dbg, "--yara-dir", "none"}, options)
                     .log_lines),
      Words{"[INFO ] quorvane args: --help " + DirPart(exe)});

  test::InstallerRun r = dir.RunInstaller(exe, {"--debug-dir", dbg, "--yara-dir", "none"}, options);
  EXPECT_EQ(r.exit_status, 254);
  const Words& lines = r.log_lines;
  EXPECT_TRUE(args_lines(lines).empty());
  const std::string error = "[ERROR] " + home + "/none directory doesn't exists. (stat " + home +
                            "/none: no such file or directory)";
  EXPECT_EQ(std::count(lines.begin(), lines.end(), error), 1);
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

}  // namespace
}  // namespace quorvane
