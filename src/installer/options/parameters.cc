#include "installer/options/parameters.h"

namespace quorvane {

void Parameters::Merge(const Parameters& other) {
  auto flag = [](bool& mine, bool theirs) { mine = mine || theirs; };
  auto text = [](std::string& mine, const std::string& theirs) {
    if (!theirs.empty()) mine = theirs;
  };
  flag(Help, other.Help);
  text(Offline, other.Offline);
  flag(Kill, other.Kill);
  text(OutputDir, other.OutputDir);
  text(TempDir, other.TempDir);
  text(YaraDir, other.YaraDir);
  flag(NoDelete, other.NoDelete);
  flag(NoAdminCheck, other.NoAdminCheck);
  flag(NoCheck, other.NoCheck);
  text(DebugDir, other.DebugDir);
}

}  // namespace quorvane
