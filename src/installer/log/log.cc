#include "installer/log/log.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "common/fixed_name_file.h"
#include "common/path.h"
#include "common/path_walk.h"
#include "common/utf8.h"
#include "common/working_directory.h"
#include "common/write_all.h"
#include "installer/constants.h"

namespace quorvane {

// printf cannot pad by code points, and the log needs only three directives.
std::string FormatLogText(std::string_view format, const std::vector<LogArg>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      out += format[i];
      continue;
    }
    size_t j = i + 1;
    if (format[j] == '%') {
      out += '%';
      i = j;
      continue;
    }
    bool left = false;
    if (format[j] == '-') {
      left = true;
      ++j;
    }
    size_t width = 0;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
      width = width * 10 + (format[j] - '0');
      ++j;
    }
    if (j == format.size() || (format[j] != 's' && format[j] != 'd')) {
      out += format.substr(i, j - i);
      i = j - 1;
      continue;
    }
    std::string value =
        next < args.size() ? args[next].text : "%!" + std::string(1, format[j]) + "(MISSING)";
    ++next;
    size_t runes = CountRunes(value);
    std::string pad = runes < width ? std::string(width - runes, ' ') : std::string();
    out += left ? value + pad : pad + value;
    i = j;
  }
  return out;
}

std::string LogTimestamp() {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  char buf[64];
  snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d ", tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::string LogFileName() { return std::string(installerLogBaseName) + ".log"; }

std::string LogFilePath(std::string_view dir) { return JoinPath(dir, LogFileName()); }

void InstallerLog::Discard() {
  state_ = State::kDiscarding;
  pending_.clear();
}

void InstallerLog::initInstallerLog(const FileAt& file, bool to_file) {
  if (!to_file) {
    Discard();
    return;
  }
  Result<UniqueFd> opened = OpenFixedNameFile(file, O_RDWR);
  if (!opened.ok()) {
    open_error_ = opened.error();
    Discard();
    return;
  }
  fd_ = std::move(*opened);
  state_ = State::kFile;
  for (const std::string& line : pending_) WriteLine(line, true);
  pending_.clear();
}

void InstallerLog::flushPendingLog(const std::string& default_temp_dir) {
  if (exists()) return;
  // A directory that another user could change is no place for root's log:
  // the file could be made to appear elsewhere.
  Result<std::string> dir = MakeAbsolute(default_temp_dir);
  WalkOptions checked;
  checked.check_owners = true;
  Result<WalkedPath> held = dir.ok() ? WalkPath(*dir, checked) : Result<WalkedPath>(dir.error());
  if (!held.ok()) {
    open_error_ = held.error();
    Discard();
    return;
  }
  initInstallerLog(FileAt(held->fd.get(), LogFileName(), LogFilePath(default_temp_dir)), true);
}

void InstallerLog::finishLog() {
  Logf("[INFO ] End, success.\n\n\n\n");
  fd_.reset();                  // a failure to close changes nothing now
  state_ = State::kDiscarding;  // a closed log takes no more lines
}

void InstallerLog::WriteLine(std::string text, bool always_newline) {
  std::string line = LogTimestamp();
  line += text;
  if (always_newline || line.back() != '\n') line += '\n';
  // One write per line and no buffer, so that an abrupt end loses no line.
  // A failed write is ignored.
  (void)WriteAllBytes(fd_.get(), line);
}

}  // namespace quorvane
