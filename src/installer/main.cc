#include <string>
#include <vector>

#include "common/platform.h"
#include "installer/driver.h"
#include "installer/installer_paths.h"

int main(int argc, char** argv) {
  // Before anything is opened: the standard descriptors and SIGCHLD.
  quorvane::platform::SanitizeStartState();
  // TMPDIR is read once, before the run begins.
  std::string default_temp_dir = quorvane::DefaultTempDirFromEnvironment();
  quorvane::RunInstallerAndExit(std::vector<std::string>(argv, argv + argc), default_temp_dir);
}
