// Cleaning is idempotent; joining and making absolute give clean paths.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/path.h"
#include "common/working_directory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t cut = input.find('\0');
  std::string a = input.substr(0, cut);
  std::string b = cut == std::string::npos ? std::string() : input.substr(cut + 1);

  using namespace quorvane;
  const std::string clean = CleanPath(a);
  if (CleanPath(clean) != clean) std::abort();
  if (clean.empty()) std::abort();
  const std::string joined = JoinPath(a, b);
  if (!joined.empty() && CleanPath(joined) != joined) std::abort();
  Result<std::string> abs = MakeAbsolute(a);
  if (abs.ok() && (!IsAbsolutePath(*abs) || CleanPath(*abs) != *abs)) std::abort();
  const std::string dir = DirPart(a);
  if (CleanPath(dir) != dir) std::abort();
  const std::string base = BaseName(a);
  if (base.empty()) std::abort();
  return 0;
}
