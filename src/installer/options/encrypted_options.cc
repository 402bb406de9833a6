#include "installer/options/encrypted_options.h"

#include <string_view>
#include <utility>
#include <vector>

#include "common/words.h"
#include "encryptedparams/encrypted_params.h"
#include "encryptedparams/parse.h"

namespace quorvane {

namespace {

using encryptedparams::DecryptedParams;
using encryptedparams::EncryptedParams;

// The directory options whose value word is rewritten, and their fields.
struct DirectoryWord {
  std::string_view name;
  std::string Parameters::*field;
};

const DirectoryWord kDirectoryWords[] = {
    {"--offline", &Parameters::Offline},      {"--temp-dir", &Parameters::TempDir},
    {"--yara-dir", &Parameters::YaraDir},     {"--debug-dir", &Parameters::DebugDir},
    {"--output-dir", &Parameters::OutputDir},
};

// value in double quotes, with the two characters that a backslash escapes
// inside double quotes escaped, so that splitting the text gives value back.
std::string DoubleQuoted(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// The word after each directory name becomes the merged value: absolute when
// the record's words gave it, else the command line's value as typed (the
// installer makes that absolute only after this step). The
// replaced word starts with a quote and is never taken for a name.
void RequoteDirectoryValues(std::vector<std::string>& words, const Parameters& record) {
  for (size_t i = 0; i + 1 < words.size(); ++i) {
    for (const DirectoryWord& d : kDirectoryWords) {
      if (words[i] != d.name) continue;
      words[i + 1] = DoubleQuoted(record.*d.field);
      break;
    }
  }
}

}  // namespace

Status ApplyEncryptedParams(Parameters& record, const std::string& program_path, bool top_level,
                            const WordsParse& parse_words) {
  if (!top_level) return Error("encrypted parameters can only be used with command line arguments");

  Result<EncryptedParams> given =
      encryptedparams::NewEncryptedParamsFromString(record.EncryptedParamsValue);
  if (!given.ok()) return given.error();
  Result<DecryptedParams> decrypted = given->Decrypt();
  if (!decrypted.ok()) return decrypted.error();
  Result<std::vector<std::string>> words = encryptedparams::Parse(decrypted->Data);
  if (!words.ok()) return words.error();

  // The words are a second command line with no defaults of their own.
  std::vector<std::string> args;
  args.reserve(words->size() + 1);
  args.push_back(program_path);
  args.insert(args.end(), words->begin(), words->end());
  Result<Parameters> nested = parse_words(args);
  if (!nested.ok()) return nested.error();
  record.Merge(*nested);

  std::vector<std::string> rewritten = std::move(words).value();
  RequoteDirectoryValues(rewritten, record);
  const DecryptedParams fresh{given->Version, given->CryptType, JoinWords(rewritten),
                              given->OptionalEntropy};
  Result<EncryptedParams> encrypted = fresh.Encrypt();
  if (!encrypted.ok()) return encrypted.error();
  record.EncryptedParamsValue = encrypted->ToOptionValue();
  return Status::Ok();
}

}  // namespace quorvane
