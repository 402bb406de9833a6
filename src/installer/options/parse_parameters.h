// The command line, and an encrypted record on it, parsed into the
// parameters record, its directory values made absolute and the debug
// directory examined.
#ifndef QUORVANE_INSTALLER_OPTIONS_PARSE_PARAMETERS_H_
#define QUORVANE_INSTALLER_OPTIONS_PARSE_PARAMETERS_H_

#include <string>
#include <vector>

#include "common/error.h"
#include "installer/options/parameters.h"

namespace quorvane {

// Parses a command line (args[0] is the program path). With lenient true,
// every failure of the option syntax is ignored; with lenient false, only
// leftover words are. The defaults give TempDir and OutputDir.
Result<Parameters> ParseParameters(const std::vector<std::string>& args,
                                   const std::string& tempDirDefault,
                                   const std::string& outputDirDefault, bool lenient);

// The worker of ParseParameters: option parse, encrypted record (only when
// top_level), validation of the directory values. args[0] is the program
// path and is never taken for an option.
Result<Parameters> parseArgs(const std::vector<std::string>& args, bool top_level,
                             const Parameters& defaults, bool lenient);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_OPTIONS_PARSE_PARAMETERS_H_
