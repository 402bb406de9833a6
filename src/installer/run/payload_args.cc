#include "installer/run/payload_args.h"

#include <errno.h>
#include <sys/stat.h>

#include "common/file_calls.h"
#include "common/path.h"
#include "common/unicode_case.h"
#include "common/words.h"
#include "common/working_directory.h"
#include "installer/constants.h"
#include "installer/run/exit_codes.h"

namespace quorvane {
namespace {

// The names are ASCII words, so title case is the first letter in upper case.
std::string TitleCase(std::string_view name) {
  std::string out(name);
  if (!out.empty() && out[0] >= 'a' && out[0] <= 'z')
    out[0] = static_cast<char>(out[0] - 'a' + 'A');
  return out;
}

template <typename... Args>
Error LogFailure(InstallerLog& log, std::string_view format, const Args&... args) {
  std::string text = FormatLog(format, args...);
  log.Logf("%s", text);
  return Error(std::move(text));
}

// The options whose following word is resolved or replaced.
enum class ValueKind { kNone, kOutput, kYara, kOffline, kDebug, kEncrypted };

ValueKind ValueKindOf(const std::string& word) {
  // Whole words only, by the lower-case form of what was typed: an "=" form
  // never matches.
  std::string lower = ToLowerUnicode(word);
  if (lower == "--output-dir") return ValueKind::kOutput;
  if (lower == "--yara-dir") return ValueKind::kYara;
  if (lower == "--offline") return ValueKind::kOffline;
  if (lower == "--debug-dir") return ValueKind::kDebug;
  if (lower == "--encrypted-params") return ValueKind::kEncrypted;
  return ValueKind::kNone;
}

struct CopyState {
  std::vector<std::string> args;
  bool outputGiven = false;
  bool debugGiven = false;
};

// The value that follows an option of `kind`, as the payload receives it.
Result<std::string> ValueFor(InstallerLog& log, ValueKind kind, const std::string& value,
                             const Parameters& params) {
  switch (kind) {
    case ValueKind::kOutput:
      return resolveDir(log, "output", value, true, false);
    case ValueKind::kYara:
      return resolveDir(log, "yara", value, true, true);
    case ValueKind::kOffline:
      // An empty offline value means "none" and passes on empty.
      if (value.empty()) return value;
      return resolveDir(log, "offline", value, false, false);
    case ValueKind::kDebug:
      return resolveDir(log, "debug", value, true, true);
    case ValueKind::kEncrypted:
      return params.EncryptedParamsValue;
    case ValueKind::kNone:
      break;
  }
  return value;
}

// Copies the words after the program name; the word after one of the five
// options is its value whatever it spells, and the last word is never an option.
Status CopyWords(InstallerLog& log, const std::vector<std::string>& argv, const Parameters& params,
                 CopyState* state) {
  size_t i = argv.empty() ? 0 : 1;
  while (i < argv.size()) {
    state->args.push_back(argv[i]);
    if (i + 1 == argv.size()) break;
    ValueKind kind = ValueKindOf(argv[i]);
    if (kind == ValueKind::kNone) {
      ++i;
      continue;
    }
    Result<std::string> value = ValueFor(log, kind, argv[i + 1], params);
    if (!value.ok()) return value.error();
    state->args.push_back(*value);
    if (kind == ValueKind::kOutput) state->outputGiven = true;
    if (kind == ValueKind::kDebug) state->debugGiven = true;
    i += 2;
  }
  return Status::Ok();
}

// The payload's temporary directory is the install directory. The first
// "--temp-dir" in any letter case gets it as its value. When that word has no
// value of its own among the typed words, the install directory is inserted
// after it: the words after it, if any, are pairs added by the installer and
// must stay whole.
void SetTempDir(std::vector<std::string>* args, size_t typed, const std::string& installDir) {
  for (size_t i = 0; i < args->size(); ++i) {
    if (!EqualFoldUnicode((*args)[i], "--temp-dir")) continue;
    if (i + 1 < typed) {
      (*args)[i + 1] = installDir;
    } else {
      args->insert(args->begin() + static_cast<std::ptrdiff_t>(i + 1), installDir);
    }
    return;
  }
  args->push_back("--temp-dir");
  args->push_back(installDir);
}

}  // namespace

Result<std::string> resolveDir(InstallerLog& log, std::string_view name, const std::string& value,
                               bool checkIsDir, bool mustExist) {
  Result<std::string> abs = MakeAbsolute(value);
  if (!abs.ok())
    return LogFailure(log, "[ERROR] Cannot resolve %s directory. (%s)", name, abs.error());
  if (!checkIsDir && !mustExist) return abs;

  Result<struct stat> examined = StatAt(FileAt(*abs), 0, "stat");
  if (!examined.ok()) {
    const Error& err = examined.error();
    if (err.errnum == ENOENT) {
      if (!mustExist) return abs;
      return LogFailure(log, "[ERROR] %s directory doesn't exists. (%s)", *abs, err);
    }
    return LogFailure(log, "[ERROR] Invalid %s directory. (%s)", name, err);
  }
  if (checkIsDir && !S_ISDIR(examined->st_mode)) {
    return LogFailure(log, "[ERROR] %s parameter value \"%s\" is not a directory.", TitleCase(name),
                      *abs);
  }
  return abs;
}

Result<std::vector<std::string>> MakePayloadArgs(InstallerLog& log,
                                                 const std::vector<std::string>& argv,
                                                 Parameters& params,
                                                 const std::string& installerDir,
                                                 const std::string& installDir) {
  std::vector<std::string> args;
  if (params.Help) {
    args = {"--help", installerDir};
  } else {
    CopyState state;
    if (Status copied = CopyWords(log, argv, params, &state); !copied.ok()) return copied.error();
    args = std::move(state.args);
    size_t typed = args.size();
    if (!state.debugGiven) {
      params.DebugDir = installDir;
      args.push_back("--debug-dir");
      args.push_back(installDir);
    }
    if (!params.Kill) {
      if (!state.outputGiven) {
        args.push_back("--output-dir");
        args.push_back(params.OutputDir);
      }
      SetTempDir(&args, typed, installDir);
    }
  }
  log.Logf("[INFO ] %s args: %s", payloadExecutableName, JoinWords(args));
  return args;
}

bool BuildPayloadArgs(RunState& run) {
  // MakePayloadArgs has logged the failure.
  Result<std::vector<std::string>> args =
      MakePayloadArgs(run.log, run.argv, run.params, run.installerDir, run.installDir);
  if (!args.ok()) {
    run.exitCode = exitBadDirectory;
    return false;
  }
  run.payloadArgs = std::move(*args);
  return true;
}

}  // namespace quorvane
