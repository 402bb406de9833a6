#include "common/error.h"

#include <cctype>
#include <cstring>

namespace quorvane {

std::string ErrnoText(int errnum) {
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  std::string text = strerror_r(errnum, buf, sizeof buf);
#else
  std::string text = strerror_r(errnum, buf, sizeof buf) == 0 ? buf : "unknown error";
#endif
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

Error PathError(std::string_view op, std::string_view path, std::string_view text, int errnum) {
  std::string msg(op);
  msg += ' ';
  msg += path;
  msg += ": ";
  msg += text;
  return Error(std::move(msg), errnum);
}

Error SysError(std::string_view op, std::string_view path, int errnum) {
  return PathError(op, path, ErrnoText(errnum), errnum);
}

Error SysError(std::string_view op, int errnum) {
  return Error(std::string(op) + ": " + ErrnoText(errnum), errnum);
}

Error ErrnoError(int errnum) { return Error(ErrnoText(errnum), errnum); }

}  // namespace quorvane
