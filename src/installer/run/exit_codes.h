// The installer's exit codes and the descriptions of the payload's own.
#ifndef QUORVANE_INSTALLER_RUN_EXIT_CODES_H_
#define QUORVANE_INSTALLER_RUN_EXIT_CODES_H_

#include <cstdint>
#include <string>

namespace quorvane {

// Exit codes of the installer.
inline constexpr int exitBadCommandLine = -1;
inline constexpr int exitBadDirectory = -2;
inline constexpr int exitInitFailed = -3;
// An internal fault outside a step that has a failure code of its own.
inline constexpr int exitInternalFault = -4;
inline constexpr int exitDiskCheckFailed = -5;
inline constexpr int exitNoDiskSpace = -6;
inline constexpr int exitAdminCheckFailed = -7;
inline constexpr int exitNotAdmin = -8;
inline constexpr int exitInstallDirFailed = -11;
inline constexpr int exitExtractFailed = -13;
inline constexpr int exitRunFailed = -14;
inline constexpr int exitDumpFailed = -15;
inline constexpr int exitPayloadCrashed = -16;
inline constexpr int payloadExitOffset = 1000;

// The system keeps only the low eight bits of an exit code, and a non-zero
// code whose low eight bits are 0 (a payload status of 24 plus 1000) would
// read as success. Such a code ends the process with this status instead:
// the one that no other code gives, as a payload status of 0 never becomes
// an exit code of 1000.
inline constexpr int exitStatusForZeroLowBits = 232;

// The status that the process ends with for an exit code: its low eight
// bits, and never 0 for a code that is not 0.
int ProcessExitStatus(int exit_code);

// An exit code of the payload. Its numbers overlap the installer's own exit
// codes, not their meanings.
struct qvrExitCodes {
  int64_t value = 0;

  // The description of the code; "Description not found for N" for a code
  // the payload does not define.
  std::string String() const;
};

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_RUN_EXIT_CODES_H_
