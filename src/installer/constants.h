// Product constants and the installer's exit codes.
#ifndef QUORVANE_INSTALLER_CONSTANTS_H_
#define QUORVANE_INSTALLER_CONSTANTS_H_

#include <cstdint>

namespace quorvane {

inline constexpr const char* productName = "Quorvane";
inline constexpr const char* productVersion = "1.0.0.251113";
inline constexpr const char* releaseChannel = "stable";
inline constexpr int64_t buildTime = 1763047587;  // 2025-11-13 15:26:27 UTC
inline constexpr const char* payloadExecutableName = "quorvane";
inline constexpr const char* installerLogBaseName = "Quorvane_i";
inline constexpr const char* installDirPrefixDefault = "quorvane_";
inline constexpr const char* hostArch = "amd64";  // the architecture the installer is built for

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

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_CONSTANTS_H_
