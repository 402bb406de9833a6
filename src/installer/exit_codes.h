// The payload's own exit codes and the architecture of the carried payload.
#ifndef QUORVANE_INSTALLER_EXIT_CODES_H_
#define QUORVANE_INSTALLER_EXIT_CODES_H_

#include <cstdint>
#include <string>

namespace quorvane {

// An exit code of the payload. Its numbers overlap the installer's own exit
// codes, not their meanings.
struct qvrExitCodes {
  int64_t value = 0;

  // The description of the code; "Description not found for N" for a code
  // the payload does not define.
  std::string String() const;
};

// The architecture label of the carried payload: the archive prefix of its
// executable, library and checksum list.
inline constexpr const char* payloadArch = "amd64";

struct embeddedArch {
  std::string value = payloadArch;

  const std::string& String() const { return value; }
};

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_EXIT_CODES_H_
