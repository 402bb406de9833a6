// Product constants and the architecture of the carried payload.
#ifndef QUORVANE_INSTALLER_CONSTANTS_H_
#define QUORVANE_INSTALLER_CONSTANTS_H_

#include <cstdint>
#include <string>

namespace quorvane {

inline constexpr const char* productName = "Quorvane";
inline constexpr const char* productVersion = "1.0.0.251113";
inline constexpr const char* releaseChannel = "stable";
inline constexpr int64_t buildTime = 1763047587;  // 2025-11-13 15:26:27 UTC
inline constexpr const char* payloadExecutableName = "quorvane";
inline constexpr const char* installerLogBaseName = "Quorvane_i";
inline constexpr const char* installDirPrefix = "quorvane_";
inline constexpr const char* kHostArch = "amd64";  // the architecture the installer is built for

// An architecture label of a carried payload: the archive prefix of its
// executable, library and checksum list.
struct embeddedArch {
  std::string value;

  const std::string& String() const { return value; }
};

// The payload carried by this build.
inline const embeddedArch payloadArch{"amd64"};

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_CONSTANTS_H_
