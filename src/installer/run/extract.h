// Extraction of the payload archive into the install directory, with every
// written file checked against its directory's checksum list.
#ifndef QUORVANE_INSTALLER_RUN_EXTRACT_H_
#define QUORVANE_INSTALLER_RUN_EXTRACT_H_

#include <string>

#include "common/error.h"
#include "common/file_calls.h"
#include "installer/archive/payload_archive.h"
#include "installer/constants.h"
#include "installer/log/log.h"
#include "installer/run/run_state.h"

namespace quorvane {

// The second archive prefix; its files go into the subdirectory of that name.
inline constexpr const char* kLicensesPrefix = "licenses";
// The base name of each prefix's checksum list.
inline constexpr const char* kChecksumsListBaseName = "checksums.txt";

inline constexpr mode_t kWrittenFileMode = 0440;  // at creation, less the umask
inline constexpr mode_t kSecuredFileMode = 0540;  // by chmod, exact
inline constexpr mode_t kLicensesDirMode = 0540;  // at creation, less the umask

// Extracts and verifies the payload carried by the installer at installerPath
// into installDir (held, or a path): the arch prefix into installDir itself, then the licences
// into their subdirectory. On success *mainFile is installDir joined with
// "quorvane" and true is returned; otherwise false, *mainFile untouched. Logs
// every written file and every failure but a failure to read the section.
bool dropFiles(InstallerLog& log, const std::string& installerPath, const FileAt& installDir,
               const embeddedArch& arch, std::string* mainFile);

// The extraction step: dropFiles into run.installDir, setting run.mainFile,
// or ends the run with exitExtractFailed.
bool ExtractPayload(RunState& run);

// One pass over the members whose names begin with prefix: writes each file
// by its base name into installDir (toRoot) or installDir/prefix, and checks
// it against the prefix's list, whose every entry must be matched.
bool extractPrefix(InstallerLog& log, PayloadArchive& archive, const FileAt& installDir,
                   const std::string& prefix, bool toRoot);

// A file whose path ends in ".so" gets mode 0540; any other is left alone.
Status secureFile(const FileAt& file);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_RUN_EXTRACT_H_
