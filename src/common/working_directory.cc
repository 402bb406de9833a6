#include "common/working_directory.h"

#include <errno.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "common/file_calls.h"
#include "common/path.h"

namespace quorvane {

Result<std::string> WorkingDirectory() {
  Result<struct stat> dot = StatAt(FileAt("."), 0, "stat");
  if (!dot.ok()) return dot.error();
  const char* pwd = std::getenv("PWD");
  if (pwd != nullptr && pwd[0] == '/') {
    Result<struct stat> named = StatAt(FileAt(pwd), 0, "stat");
    if (named.ok() && SameFile(*named, *dot)) return std::string(pwd);
  }
  std::vector<char> buf(4096);
  for (;;) {
    if (getcwd(buf.data(), buf.size()) != nullptr) return std::string(buf.data());
    if (errno != ERANGE) return SysError("getwd", errno);
    buf.resize(buf.size() * 2);
  }
}

Result<std::string> MakeAbsolute(std::string_view path) {
  if (IsAbsolutePath(path)) return CleanPath(path);
  Result<std::string> wd = WorkingDirectory();
  if (!wd.ok()) return wd.error();
  return JoinPath(*wd, path);
}

}  // namespace quorvane
