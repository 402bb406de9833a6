#include "common/file_calls.h"

#include <errno.h>
#include <unistd.h>

#include "common/path.h"
#include "common/platform.h"

namespace quorvane {
namespace {

bool HoldsNul(const std::string& s) { return s.find('\0') != std::string::npos; }

// Repeats call while a signal interrupts it.
template <typename Call>
auto Retrying(Call call) {
  decltype(call()) rc;
  do {
    rc = call();
  } while (rc < 0 && errno == EINTR);
  return rc;
}

}  // namespace

FileAt FileAt::Entry(std::string_view entry) const {
  std::string child = JoinPath(path, entry);
  if (dirfd == AT_FDCWD) return FileAt(AT_FDCWD, child, child);
  return FileAt(dirfd, name == "." ? std::string(entry) : JoinPath(name, entry), child);
}

Result<UniqueFd> OpenAt(const FileAt& file, int flags, mode_t mode) {
  if (HoldsNul(file.name)) return SysError("open", file.path, EINVAL);
  int fd = Retrying([&] { return openat(file.dirfd, file.name.c_str(), flags | O_CLOEXEC, mode); });
  if (fd < 0) return SysError("open", file.path, errno);
  return UniqueFd(fd);
}

Result<UniqueFd> OpenDirectoryAt(const FileAt& dir) {
  return OpenAt(dir, O_DIRECTORY | O_NOFOLLOW | platform::kOpenForSearch);
}

Result<struct stat> StatAt(const FileAt& file, int flags, std::string_view op) {
  if (HoldsNul(file.name)) return SysError(op, file.path, EINVAL);
  struct stat st;
  if (Retrying([&] { return fstatat(file.dirfd, file.name.c_str(), &st, flags); }) != 0) {
    return SysError(op, file.path, errno);
  }
  return st;
}

Result<struct stat> StatOf(int fd, std::string_view path, std::string_view op) {
  struct stat st;
  if (Retrying([&] { return fstat(fd, &st); }) != 0) return SysError(op, path, errno);
  return st;
}

Status MakeDirectoryAt(const FileAt& dir, mode_t mode) {
  if (HoldsNul(dir.name)) return SysError("mkdir", dir.path, EINVAL);
  if (Retrying([&] { return mkdirat(dir.dirfd, dir.name.c_str(), mode); }) != 0) {
    return SysError("mkdir", dir.path, errno);
  }
  return Status::Ok();
}

Status ChangeModeAt(const FileAt& file, mode_t mode) {
  if (HoldsNul(file.name)) return SysError("chmod", file.path, EINVAL);
  if (Retrying([&] { return fchmodat(file.dirfd, file.name.c_str(), mode, 0); }) != 0) {
    return SysError("chmod", file.path, errno);
  }
  return Status::Ok();
}

Result<std::string> ReadLinkAt(const FileAt& link) {
  if (HoldsNul(link.name)) return SysError("readlink", link.path, EINVAL);
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n =
        Retrying([&] { return readlinkat(link.dirfd, link.name.c_str(), buf.data(), buf.size()); });
    if (n < 0) return SysError("readlink", link.path, errno);
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace quorvane
