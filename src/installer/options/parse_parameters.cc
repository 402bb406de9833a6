#include "installer/options/parse_parameters.h"

#include <errno.h>
#include <sys/stat.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "common/path.h"
#include "common/path_walk.h"
#include "common/working_directory.h"
#include "installer/options/encrypted_options.h"
#include "installer/options/option_parse.h"

namespace quorvane {

namespace {

// An option and the field that it sets: a flag or a text.
struct OptionRow {
  OptionDef option;
  bool Parameters::*flag;
  std::string Parameters::*text;
};

// The order of the rows is the order in which the options take their words:
// a value option takes the next word even when a later row would match it.
const OptionRow kOptionRows[] = {
    {{"help", 'h', false}, &Parameters::Help, nullptr},
    {{"offline", 0, true}, nullptr, &Parameters::Offline},
    {{"kill", 'k', false}, &Parameters::Kill, nullptr},
    {{"output-dir", 0, true}, nullptr, &Parameters::OutputDir},
    {{"temp-dir", 0, true}, nullptr, &Parameters::TempDir},
    {{"yara-dir", 0, true}, nullptr, &Parameters::YaraDir},
    {{"no-delete", 0, false}, &Parameters::NoDelete, nullptr},
    {{"no-admin-check", 0, false}, &Parameters::NoAdminCheck, nullptr},
    {{"no-check", 0, false}, &Parameters::NoCheck, nullptr},
    {{"debug-dir", 0, true}, nullptr, &Parameters::DebugDir},
    {{"encrypted-params", 0, true}, nullptr, &Parameters::EncryptedParamsValue},
};

std::vector<OptionDef> OptionTable() {
  std::vector<OptionDef> table;
  for (const OptionRow& row : kOptionRows) table.push_back(row.option);
  return table;
}

// Each field takes its option's value, or its default when the option's scan
// finished without it. Rows that a failure kept from finishing take no default.
Parameters RecordFromOptions(const OptionParse& parse, const Parameters& defaults) {
  Parameters record;
  for (size_t i = 0; i < std::size(kOptionRows); ++i) {
    const OptionRow& row = kOptionRows[i];
    const OptionOutcome& out = parse.options[i];
    const bool use_default = !out.given && out.scanned;
    if (row.flag != nullptr) {
      record.*row.flag = use_default ? defaults.*row.flag : out.given;
    } else {
      record.*row.text = use_default ? defaults.*row.text : out.value;
    }
  }
  return record;
}

Status Absolutize(std::string& value, const char* what) {
  if (value.empty()) return Status::Ok();
  Result<std::string> abs = MakeAbsolute(value);
  if (!abs.ok()) {
    return Error("invalid " + std::string(what) + " \"" + value +
                 "\", error: " + abs.error().message);
  }
  value = std::move(abs).value();
  return Status::Ok();
}

constexpr mode_t kDebugDirMode = 0640;

// The debug directory must be a directory; a missing one is created. Root
// writes the log and the crash dump there, so every level on the way must
// be safe from other users, as the temporary directory's are.
Status ValidateDebugDir(std::string& value) {
  if (value.empty()) return Status::Ok();
  Status s = Absolutize(value, "debug directory");
  if (!s.ok()) return s;
  WalkOptions options;
  options.check_owners = true;
  options.create_mode = kDebugDirMode;
  WalkStop stop;
  Result<WalkedPath> walked = WalkPath(value, options, &stop);
  if (walked.ok()) return Status::Ok();
  switch (stop) {
    case WalkStop::kCreate:
      return Error("couldn't create \"" + value + "\", error: " + walked.error().message);
    case WalkStop::kNotDirectory:
      return Error("debug parameter value \"" + value + "\" is not a directory");
    case WalkStop::kUnsafe:
      return Error("invalid debug directory \"" + value + "\", error: " + walked.error().message);
    case WalkStop::kLookup:
      break;
  }
  return Error("invalid debug directory \"" + value +
               "\", error: " + SysError("stat", value, walked.error().errnum).message);
}

Status ValidateDirectories(Parameters& p) {
  Status s = Absolutize(p.Offline, "OS directory");
  if (s.ok()) s = ValidateDebugDir(p.DebugDir);
  if (s.ok()) s = Absolutize(p.TempDir, "temporary directory");
  if (s.ok()) s = Absolutize(p.YaraDir, "yara rule directory");
  if (s.ok()) s = Absolutize(p.OutputDir, "output directory");
  return s;
}

}  // namespace

Result<Parameters> parseArgs(const std::vector<std::string>& args, bool top_level,
                             const Parameters& defaults, bool lenient) {
  std::vector<std::string> words;
  if (!args.empty()) words.assign(args.begin() + 1, args.end());
  OptionParse parse = ParseOptions(OptionTable(), std::move(words));
  // Leftover words are ignored always: the parse was complete.
  if (!parse.status.ok() && !parse.complete && !lenient) return parse.status.error();

  Parameters record = RecordFromOptions(parse, defaults);
  if (!record.EncryptedParamsValue.empty()) {
    // The record's words are a second command line, with no defaults of
    // their own and no record of their own.
    auto parse_nested = [lenient](const std::vector<std::string>& nested) {
      return parseArgs(nested, false, Parameters{}, lenient);
    };
    Status s = ApplyEncryptedParams(record, args.empty() ? std::string() : args[0], top_level,
                                    parse_nested);
    if (!s.ok()) return s.error();
  }
  Status s = ValidateDirectories(record);
  if (!s.ok()) return s.error();
  return record;
}

Result<Parameters> ParseParameters(const std::vector<std::string>& args,
                                   const std::string& tempDirDefault,
                                   const std::string& outputDirDefault, bool lenient) {
  Parameters defaults;
  defaults.TempDir = tempDirDefault;
  defaults.OutputDir = outputDirDefault;
  return parseArgs(args, true, defaults, lenient);
}

}  // namespace quorvane
