// Parameters printed field by field in failure messages.
#ifndef QUORVANE_TESTS_SUPPORT_PARAMETERS_PRINT_H_
#define QUORVANE_TESTS_SUPPORT_PARAMETERS_PRINT_H_

#include <ostream>

#include "installer/options/parameters.h"

namespace quorvane {

// Found by GoogleTest through the argument's namespace.
inline void PrintTo(const Parameters& p, std::ostream* os) {
  *os << "{Help=" << p.Help << " Offline=" << p.Offline << " Kill=" << p.Kill
      << " OutputDir=" << p.OutputDir << " TempDir=" << p.TempDir << " YaraDir=" << p.YaraDir
      << " NoDelete=" << p.NoDelete << " NoAdminCheck=" << p.NoAdminCheck
      << " NoCheck=" << p.NoCheck << " DebugDir=" << p.DebugDir
      << " EncryptedParamsValue=" << p.EncryptedParamsValue << "}";
}

}  // namespace quorvane

#endif  // QUORVANE_TESTS_SUPPORT_PARAMETERS_PRINT_H_
