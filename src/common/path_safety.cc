#include "common/path_safety.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <vector>

namespace quorvane {
namespace {

constexpr int kMaxLinks = 255;

std::deque<std::string> Elements(const std::string& path) {
  std::deque<std::string> out;
  size_t i = 0;
  while (i < path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) out.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return out;
}

std::string Joined(const std::vector<std::string>& elements) {
  std::string out;
  for (const std::string& e : elements) out += "/" + e;
  return out.empty() ? "/" : out;
}

Error Unsafe(const std::string& path, const std::string& reason) {
  return Error("unsafe path " + path + ": " + reason, EPERM);
}

// The rule for one element whose status is st.
Status CheckElement(const std::string& path, const struct stat& st, uid_t uid) {
  if (st.st_uid != uid && st.st_uid != 0) {
    return Unsafe(path, "owned by user " + std::to_string(st.st_uid));
  }
  if (S_ISDIR(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
      (st.st_mode & S_ISVTX) == 0) {
    return Unsafe(path, "writable by others without the sticky bit");
  }
  return Status::Ok();
}

Result<std::string> ReadLink(const std::string& path) {
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0) return SysError("readlink", path, errno);
    if (static_cast<size_t>(n) < buf.size()) return buf.substr(0, static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

Status CheckPathSafeFor(const std::string& absolute_path, uid_t uid) {
  struct stat st;
  if (lstat("/", &st) != 0) return Status::Ok();
  if (Status root = CheckElement("/", st, uid); !root.ok()) return root;
  std::vector<std::string> resolved;  // directories checked so far, no links among them
  std::deque<std::string> pending = Elements(absolute_path);
  int links = 0;
  while (!pending.empty()) {
    const std::string element = pending.front();
    pending.pop_front();
    if (element == ".") continue;
    if (element == "..") {
      if (!resolved.empty()) resolved.pop_back();
      continue;
    }
    resolved.push_back(element);
    const std::string path = Joined(resolved);
    if (lstat(path.c_str(), &st) != 0) return Status::Ok();
    if (Status ok = CheckElement(path, st, uid); !ok.ok()) return ok;
    if (S_ISDIR(st.st_mode)) continue;
    if (!S_ISLNK(st.st_mode) || ++links > kMaxLinks) return Status::Ok();
    Result<std::string> target = ReadLink(path);
    if (!target.ok()) return Status::Ok();
    resolved.pop_back();
    if (!target->empty() && (*target)[0] == '/') resolved.clear();
    std::deque<std::string> more = Elements(*target);
    pending.insert(pending.begin(), more.begin(), more.end());
  }
  return Status::Ok();
}

}  // namespace quorvane
