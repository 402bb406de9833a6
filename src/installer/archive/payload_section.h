// The payload section: the ZIP archive that the installer carries in its own
// executable file.
#ifndef QUORVANE_INSTALLER_ARCHIVE_PAYLOAD_SECTION_H_
#define QUORVANE_INSTALLER_ARCHIVE_PAYLOAD_SECTION_H_

#include <string>

#include "common/error.h"

namespace quorvane {

inline constexpr const char* payloadSectionName = ".quorvane";

// The whole contents of the first section named ".quorvane" in the section
// header table of the ELF file at path. Errors: those of opening and reading
// the file; "couldn't find .quorvane section"; a section that does not lie
// within the file; "cannot allocate memory" (ENOMEM) when the contents
// cannot be held.
Result<std::string> getPayloadData(const std::string& path);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_ARCHIVE_PAYLOAD_SECTION_H_
