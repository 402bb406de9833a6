// The words that the payload receives after its program name.
#ifndef QUORVANE_INSTALLER_PAYLOAD_ARGS_H_
#define QUORVANE_INSTALLER_PAYLOAD_ARGS_H_

#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "installer/log.h"
#include "installer/parameters.h"

namespace quorvane {

// Makes a directory value absolute and examines it: with checkIsDir an
// existing path must be a directory, with mustExist it must exist. Without
// either nothing on disk is queried. On failure exactly one "[ERROR]" line is
// logged and the returned Error carries that line's text. Creates nothing.
Result<std::string> resolveDir(InstallerLog& log, std::string_view name, const std::string& value,
                               bool checkIsDir, bool mustExist);

// Builds the payload's argument list from the raw command line (argv[0] is
// the installer's program name and is skipped). Every word is passed on as
// typed but the value after --output-dir, --yara-dir, --offline, --debug-dir
// (resolved) and --encrypted-params (replaced by params.EncryptedParamsValue);
// then the debug, output and temp-dir pairs are added as needed. Sets
// params.DebugDir to installDir when no debug directory was among the words.
// Returns 0, or exitBadDirectory when a directory value cannot be used; then
// neither payloadArgs nor params is changed.
int buildPayloadArgs(InstallerLog& log, const std::vector<std::string>& argv, Parameters& params,
                     const std::string& installerDir, const std::string& installDir,
                     std::vector<std::string>* payloadArgs);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_PAYLOAD_ARGS_H_
