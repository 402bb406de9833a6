#include "installer/parameters.h"

namespace quorvane {

// Placeholder until the option parse lands: no option is recognised.
Result<Parameters> ParseParameters(const std::vector<std::string>&, const std::string& tempDirDefault,
                                   const std::string& outputDirDefault, bool) {
  Parameters p;
  p.TempDir = tempDirDefault;
  p.OutputDir = outputDirDefault;
  return p;
}

}  // namespace quorvane
