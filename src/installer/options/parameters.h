// The parsed options of one run: the parameters record.
#ifndef QUORVANE_INSTALLER_OPTIONS_PARAMETERS_H_
#define QUORVANE_INSTALLER_OPTIONS_PARAMETERS_H_

#include <string>

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

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_OPTIONS_PARAMETERS_H_
