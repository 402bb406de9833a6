#include <string>
#include <vector>

#include "installer/driver.h"
#include "installer/installer_paths.h"

int main(int argc, char** argv) {
  // TMPDIR is read once, before the run begins.
  std::string default_temp_dir = quorvane::defaultTempDirFromEnvironment();
  quorvane::RunInstallerAndExit(std::vector<std::string>(argv, argv + argc), default_temp_dir);
}
