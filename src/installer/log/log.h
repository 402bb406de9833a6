// installer/log/: the installer log: lines held until the log is set up,
// then written to a file or dropped, and the formatter of its lines.
//
// The installer log: one per run, written to a file or discarded.
#ifndef QUORVANE_INSTALLER_LOG_LOG_H_
#define QUORVANE_INSTALLER_LOG_LOG_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/error.h"
#include "common/file_calls.h"
#include "common/owned.h"

namespace quorvane {

// One value for a log format: a text or a decimal integer.
struct LogArg {
  std::string text;

  LogArg(std::string_view s) : text(s) {}
  LogArg(const std::string& s) : text(s) {}
  LogArg(const char* s) : text(s) {}
  LogArg(const Error& e) : text(e.message) {}
  template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
  LogArg(T n) : text(std::to_string(n)) {}
};

// Formats a log text. Knows "%s", "%d" (both take the value's text), "%-Ns"
// (padded with blanks on the right to N code points) and "%%".
std::string FormatLogText(std::string_view format, const std::vector<LogArg>& args);

template <typename... Args>
std::string FormatLog(std::string_view format, const Args&... args) {
  return FormatLogText(format, {LogArg(args)...});
}

// "YYYY/MM/DD hh:mm:ss " in local time.
std::string LogTimestamp();

// The installer log. Until it is set up it holds every line written to it
// (formatted at once, time-stamped when written out); the set-up writes them
// out, or drops them when the log discards.
class InstallerLog {
 public:
  InstallerLog() = default;
  InstallerLog(const InstallerLog&) = delete;
  InstallerLog& operator=(const InstallerLog&) = delete;

  // Once per run. With to_file false, or when the file cannot be opened,
  // every line is discarded, the held ones included; otherwise the held lines
  // are written first. The file is opened in its held directory (file.dirfd)
  // by the rules for a fixed name in a shared directory.
  void initInstallerLog(const FileAt& file, bool to_file);

  // When the log was never set up, it is set up as a file in
  // default_temp_dir with the lines it holds, unless that directory breaks
  // the temporary directory's ownership rule.
  void flushPendingLog(const std::string& default_temp_dir);

  // The closing line, then the file is closed.
  void finishLog();

  // Writes one line: the time stamp, the text, and a newline unless the text
  // ends with one. Before the set-up the formatted text is held instead. A
  // discarding log neither formats nor reads the clock.
  template <typename... Args>
  void Logf(std::string_view format, const Args&... args) {
    if (state_ == State::kDiscarding) return;
    if (state_ == State::kAbsent) {
      pending_.push_back(FormatLog(format, args...));
      return;
    }
    WriteLine(FormatLog(format, args...), false);
  }

  bool exists() const { return state_ != State::kAbsent; }
  bool writes_to_file() const { return fd_.valid(); }
  const std::optional<Error>& open_error() const { return open_error_; }
  // The lines held until the set-up, in the order they were written.
  const std::vector<std::string>& pendingLogLines() const { return pending_; }

 private:
  enum class State { kAbsent, kFile, kDiscarding };

  void Discard();
  void WriteLine(std::string text, bool always_newline);

  State state_ = State::kAbsent;
  UniqueFd fd_;
  std::optional<Error> open_error_;
  std::vector<std::string> pending_;
};

// The log file's name, and its path in a directory.
std::string LogFileName();
std::string LogFilePath(std::string_view dir);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_LOG_LOG_H_
