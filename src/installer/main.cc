#include "common/platform.h"
#include "installer/run/driver.h"

int main(int argc, char** argv) {
  // Before anything is opened: the standard descriptors and the signals.
  quorvane::platform::SanitizeStartState();
  quorvane::RunInstallerAndExit(argc, argv);
}
