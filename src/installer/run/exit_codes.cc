#include "installer/run/exit_codes.h"

#include "installer/constants.h"
#include "installer/log/log.h"

namespace quorvane {
namespace {

// Descriptions of the codes -1 to -21, index 0 for -1. The texts, spelling
// included, are what the payload's users know from its own messages.
constexpr const char* kDescriptions[] = {
    "Invalid commmand line, check command line",
    "Invalid argument, check command line",
    "Initialization error",
    "Internal error",
    "Context initialization error",
    "Context cancellation error",
    "Temporary directory error",
    "Failed to select files to be sent or archive",
    "JSON marshal error",
    "JSON write to file error",
    "Couldn't archive files or JSON file error",
    "Couldn't delete temporary folder",
    "Couldn't write the file containing the token",
    "Couldn't write the help file",
    "Failed to check if already running",
    "%s already running",
    "Failed to check for Administrator rigths",
    "Need Administrator rights",
    "Failed to set privileges",
    "Invalid step specified",
    "Select the appropriate executable for your system architecture.",
};

constexpr int64_t kDescribed = sizeof kDescriptions / sizeof kDescriptions[0];

}  // namespace

std::string qvrExitCodes::String() const {
  if (value == -16) return FormatLog(kDescriptions[15], productName);
  if (value <= -1 && value >= -kDescribed) return kDescriptions[-value - 1];
  return FormatLog("Description not found for %d", value);
}

int ProcessExitStatus(int exit_code) {
  const int status = exit_code & 0xff;
  return exit_code != 0 && status == 0 ? exitStatusForZeroLowBits : status;
}

}  // namespace quorvane
