// Command lines parsed in a scratch working directory of each test's own,
// which PWD names too, so that relative values are made absolute under it.
#ifndef QUORVANE_TESTS_SUPPORT_PARSE_FIXTURE_H_
#define QUORVANE_TESTS_SUPPORT_PARSE_FIXTURE_H_

#include <string>
#include <vector>

#include "common/error.h"
#include "installer/options/parse_parameters.h"
#include "support/parameters_print.h"
#include "support/test_support.h"

namespace quorvane::test {

class ParseFixture : public UmaskTest {
 protected:
  // The words after the program path, with "/tmpdef" and "/outdef" for
  // defaults.
  static Result<Parameters> Parse(std::vector<std::string> words, bool lenient = false) {
    words.insert(words.begin(), "/bin/installer");
    return ParseParameters(words, "/tmpdef", "/outdef", lenient);
  }

  std::string Abs(const std::string& rel) const { return dir_.path() + "/" + rel; }

  ScratchDir dir_;
  ScopedWorkingDir cwd_{dir_.path()};
};

// The parse's error text, or "(no error)".
inline std::string ErrorOf(const Result<Parameters>& r) {
  return r.ok() ? "(no error)" : r.error().message;
}

}  // namespace quorvane::test

#endif  // QUORVANE_TESTS_SUPPORT_PARSE_FIXTURE_H_
