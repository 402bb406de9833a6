#include "common/path.h"

#include <vector>

namespace quorvane {

std::string CleanPath(std::string_view path) {
  if (path.empty()) return ".";
  const bool rooted = path[0] == '/';
  std::vector<std::string_view> elems;
  size_t leading_dotdots = 0;  // ".." kept at the start of a relative path
  size_t i = 0;
  while (i < path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string_view::npos) j = path.size();
    std::string_view e = path.substr(i, j - i);
    i = j + 1;
    if (e.empty() || e == ".") continue;
    if (e == "..") {
      if (elems.size() > leading_dotdots) {
        elems.pop_back();
      } else if (!rooted) {
        elems.push_back(e);
        ++leading_dotdots;
      }
      continue;
    }
    elems.push_back(e);
  }
  std::string out;
  if (rooted) out = "/";
  for (size_t k = 0; k < elems.size(); ++k) {
    if (k > 0) out += '/';
    out += elems[k];
  }
  if (out.empty()) return ".";
  return out;
}

std::string JoinPath(std::initializer_list<std::string_view> parts) {
  std::string joined;
  bool any = false;
  for (std::string_view p : parts) {
    if (p.empty()) continue;
    if (any) joined += '/';
    joined += p;
    any = true;
  }
  if (!any) return "";
  return CleanPath(joined);
}

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path[0] == '/'; }

std::string DirPart(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return CleanPath(path.substr(0, slash + 1));
}

std::string BaseName(std::string_view path) {
  if (path.empty()) return ".";
  while (path.size() > 0 && path.back() == '/') path.remove_suffix(1);
  if (path.empty()) return "/";
  size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  return std::string(path);
}

}  // namespace quorvane
