// The words that the payload receives after its program name.
#ifndef QUORVANE_INSTALLER_RUN_PAYLOAD_ARGS_H_
#define QUORVANE_INSTALLER_RUN_PAYLOAD_ARGS_H_

#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "installer/log/log.h"
#include "installer/options/parameters.h"
#include "installer/run/run_state.h"

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
// A directory value that cannot be used is logged and returned as the error;
// params is then unchanged.
Result<std::vector<std::string>> MakePayloadArgs(InstallerLog& log,
                                                 const std::vector<std::string>& argv,
                                                 Parameters& params,
                                                 const std::string& installerDir,
                                                 const std::string& installDir);

// The argument-list step: sets run.payloadArgs (and run.params.DebugDir when
// the words give none), or ends the run with exitBadDirectory.
bool BuildPayloadArgs(RunState& run);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_RUN_PAYLOAD_ARGS_H_
