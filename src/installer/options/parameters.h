// The parsed options of one run.
#ifndef QUORVANE_INSTALLER_OPTIONS_PARAMETERS_H_
#define QUORVANE_INSTALLER_OPTIONS_PARAMETERS_H_

#include <string>
#include <vector>

#include "common/error.h"

namespace quorvane {

struct Parameters {
  bool Help = false;
  std::string Offline = {};
  bool Kill = false;
  std::string OutputDir = {};
  std::string TempDir = {};
  std::string YaraDir = {};
  bool NoDelete = false;
  bool NoAdminCheck = false;
  bool NoCheck = false;
  std::string DebugDir = {};
  std::string EncryptedParamsValue = {};

  // Folds other in: flags set in other are set, its non-empty directory
  // values replace ours; EncryptedParamsValue is kept.
  void Merge(const Parameters& other);

  bool operator==(const Parameters&) const = default;
};

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

#endif  // QUORVANE_INSTALLER_OPTIONS_PARAMETERS_H_
