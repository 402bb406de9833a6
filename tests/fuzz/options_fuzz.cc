// The command-line parse: the pure option parse on a table like the
// installer's, and the full parse (with an encrypted record's words and the
// directory checks), strict and lenient. The words are the input split at NUL.
//
// The full parse creates a missing debug directory. It runs in a scratch
// directory of its own, so relative values land there; inputs whose
// words (or the words of a record they carry) mention "debug-dir" together
// with a "/" or ".." anywhere could name a place outside it and are given to
// the pure parse only. The scratch directory is emptied after each input.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "encryptedparams/encrypted_params.h"
#include "encryptedparams/parse.h"
#include "fuzz_support.h"
#include "installer/options/option_parse.h"
#include "installer/options/parse_parameters.h"

namespace {

using namespace quorvane;
using quorvane::fuzz::Check;

const std::vector<OptionDef> kTable = {
    {"help", 'h', false},    {"offline", 0, true},          {"kill", 'k', false},
    {"output-dir", 0, true}, {"temp-dir", 0, true},         {"yara-dir", 0, true},
    {"no-delete", 0, false}, {"no-admin-check", 0, false},  {"no-check", 0, false},
    {"debug-dir", 0, true},  {"encrypted-params", 0, true},
};

// Runs fn with the scratch directory as working directory, and returns to
// the previous one: libFuzzer reads and writes its corpus by relative paths
// between the calls.
template <typename Fn>
void InScratch(const std::string& scratch, Fn fn) {
  static const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (home < 0 || chdir(scratch.c_str()) != 0) fuzz::Die("chdir", scratch);
  fn();
  if (fchdir(home) != 0) fuzz::Die("fchdir");
}

// The words that a record carried in word (whole, or after its last "=") decrypts to.
void AddRecordWords(const std::string& word, std::vector<std::string>& out) {
  std::vector<std::string> candidates = {word};
  size_t eq = word.rfind('=');
  if (eq != std::string::npos) candidates.push_back(word.substr(eq + 1));
  for (const std::string& value : candidates) {
    auto record = encryptedparams::NewEncryptedParamsFromString(value);
    if (!record.ok()) continue;
    auto plain = record->Decrypt();
    if (!plain.ok()) continue;
    auto words = encryptedparams::Parse(plain->Data);
    if (words.ok()) out.insert(out.end(), words->begin(), words->end());
  }
}

bool MayLeaveScratch(const std::vector<std::string>& words) {
  std::vector<std::string> all = words;
  for (const std::string& w : words) AddRecordWords(w, all);
  bool debug = false, path = false;
  for (const std::string& w : all) {
    debug = debug || w.find("debug-dir") != std::string::npos;
    path = path || w.find('/') != std::string::npos || w.find("..") != std::string::npos;
  }
  return debug && path;
}

void CheckPureParse(const std::vector<std::string>& words) {
  OptionParse parse = ParseOptions(kTable, words);
  Check(parse.options.size() == kTable.size(), "one outcome per row");
  Check(!parse.status.ok() || parse.complete, "success means every row was scanned");
  for (size_t i = 0; i < kTable.size(); ++i) {
    const OptionOutcome& out = parse.options[i];
    if (parse.complete) Check(out.scanned, "complete parse left a row unscanned");
    if (!kTable[i].takes_value) Check(out.value.empty(), "flag with a value");
  }
  Check(ParseOptions(kTable, words).status.ok() == parse.status.ok(), "parse is not repeatable");
}

void CheckFullParse(const std::vector<std::string>& words, const std::string& scratch) {
  std::vector<std::string> args = {"quorvane-installer"};
  args.insert(args.end(), words.begin(), words.end());
  Parameters defaults;
  defaults.TempDir = "tmp-default";
  defaults.OutputDir = "out-default";
  Result<Parameters> strict = parseArgs(args, true, defaults, false);
  Result<Parameters> lenient = parseArgs(args, true, defaults, true);
  if (strict.ok()) {
    Check(lenient.ok(), "strict parse succeeds, lenient fails");
    Check(*strict == *lenient, "strict and lenient records differ");
  }
  (void)parseArgs(args, false, defaults, true);
  fuzz::EmptyDir(scratch);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& scratch = fuzz::ScratchFor("options");
  std::vector<std::string> words = fuzz::SplitAtNul(data, size);
  CheckPureParse(words);
  if (!MayLeaveScratch(words)) InScratch(scratch, [&] { CheckFullParse(words, scratch); });
  return 0;
}
