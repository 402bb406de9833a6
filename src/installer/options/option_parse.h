// The installer's option syntax: long names with "--", one-letter flags with
// "-", values in the next word or after "=".
#ifndef QUORVANE_INSTALLER_OPTIONS_OPTION_PARSE_H_
#define QUORVANE_INSTALLER_OPTIONS_OPTION_PARSE_H_

#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace quorvane {

// One row of an option table.
struct OptionDef {
  std::string_view long_name;  // without the leading "--"
  char letter = 0;             // 0 when the option has no one-letter form
  bool takes_value = false;    // a value option; otherwise a flag
};

// What the parse found for one row.
struct OptionOutcome {
  bool given = false;    // the option was accepted
  bool scanned = false;  // its scan finished: when not given, its default applies
  std::string value;     // a value option's value
};

struct OptionParse {
  std::vector<OptionOutcome> options;  // one per row, in table order
  Status status;                       // the first failure, if any
  bool complete = false;  // every row was scanned; a failure is then one of leftover words
};

// "-h|--help" for an option with a letter, "--temp-dir" for one without.
std::string DisplayName(const OptionDef& option);

// Parses words (the command line after the program path) against table,
// row by row in table order, stopping at the first failure.
OptionParse ParseOptions(const std::vector<OptionDef>& table, std::vector<std::string> words);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_OPTIONS_OPTION_PARSE_H_
