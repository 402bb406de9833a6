#include "installer/options/option_parse.h"

#include <algorithm>
#include <utility>

namespace quorvane {

namespace {

struct Match {
  size_t count = 0;  // 0: no match
  bool by_letter = false;
};

// How word names the option: by "--" and the exact long name (count 1), or as a
// "-" word holding the option's letter (count: its occurrences after the "-").
Match MatchWord(const OptionDef& option, std::string_view word) {
  if (word.size() > 2 && word.starts_with("--") && word[2] != '-') {
    return Match{word.substr(2) == option.long_name ? 1u : 0u, false};
  }
  if (option.letter != 0 && word.size() > 1 && word[0] == '-' && word[1] != '-') {
    return Match{static_cast<size_t>(std::count(word.begin() + 1, word.end(), option.letter)),
                 true};
  }
  return Match{};
}

Error NotEnoughArguments(const OptionDef& option) {
  return Error("not enough arguments for " + DisplayName(option));
}

Error Repeated(const OptionDef& option) {
  // Appended, not "[" + name: GCC 12 at -O3 warns wrongly (-Wrestrict) on that.
  std::string text = "[";
  text += DisplayName(option);
  text += "] can only be present once";
  return Error(text);
}

// One parse over a working list. Consumed words are emptied, never removed,
// so positions stay put and empty words are passed over everywhere.
class Parser {
 public:
  Parser(const std::vector<OptionDef>& table, std::vector<std::string> words)
      : table_(table), words_(std::move(words)) {
    result_.options.resize(table.size());
  }

  OptionParse Parse() {
    for (size_t row = 0; row < table_.size(); ++row) {
      Status s = ScanRow(row);
      if (!s.ok()) {
        result_.status = s;
        return std::move(result_);
      }
    }
    result_.complete = true;
    std::string leftovers;
    for (const std::string& w : words_) {
      if (w.empty()) continue;
      if (!leftovers.empty()) leftovers += ' ';
      leftovers += w;
    }
    if (!leftovers.empty()) result_.status = Error("unknown arguments " + leftovers);
    return std::move(result_);
  }

 private:
  Status ScanRow(size_t row) {
    const OptionDef& option = table_[row];
    OptionOutcome& out = result_.options[row];
    bool given_with_equals = false;
    for (size_t pos = 0; pos < words_.size(); ++pos) {
      std::string& w = words_[pos];
      if (w.empty()) continue;
      // "name=value": the name is everything before the last "=".
      size_t eq = w.rfind('=');
      if (eq != std::string::npos) {
        Match m = MatchWord(option, std::string_view(w).substr(0, eq));
        if (m.count > 0) {
          if (eq + 1 == w.size()) return NotEnoughArguments(option);
          Status s = Accept(option, out, w.substr(eq + 1), m.count);
          if (!s.ok()) return s;
          given_with_equals = true;
          w.clear();
          continue;
        }
      }
      Match m = MatchWord(option, w);
      if (m.count == 0) continue;
      if (option.takes_value) {
        if (given_with_equals) return Repeated(option);
        if (pos + 1 == words_.size()) return NotEnoughArguments(option);
        // The next word is the value whatever it holds, even an empty word.
        Status s = Accept(option, out, std::move(words_[pos + 1]), m.count);
        if (!s.ok()) return s;
        w.clear();
        words_[pos + 1].clear();
        ++pos;
      } else {
        Status s = Accept(option, out, std::string(), m.count);
        if (!s.ok()) return s;
        if (m.by_letter) std::erase(w, option.letter);
        if (!m.by_letter || w == "-") w.clear();
      }
    }
    out.scanned = true;
    return Status::Ok();
  }

  // A flag ignores value (also the part after "=" of a flag word).
  static Status Accept(const OptionDef& option, OptionOutcome& out, std::string value,
                       size_t count) {
    if (out.given || count > 1) return Repeated(option);
    out.given = true;
    if (option.takes_value) out.value = std::move(value);
    return Status::Ok();
  }

  const std::vector<OptionDef>& table_;
  std::vector<std::string> words_;
  OptionParse result_;
};

}  // namespace

std::string DisplayName(const OptionDef& option) {
  std::string name;
  if (option.letter != 0) {
    name += '-';
    name += option.letter;
    name += '|';
  }
  name += "--";
  name += option.long_name;
  return name;
}

OptionParse ParseOptions(const std::vector<OptionDef>& table, std::vector<std::string> words) {
  return Parser(table, std::move(words)).Parse();
}

}  // namespace quorvane
