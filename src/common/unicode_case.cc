#include "common/unicode_case.h"

#include <utf8proc.h>

#include "common/utf8.h"

namespace quorvane {
namespace {

// The tables are utf8proc's, linked in, so the mapping does not depend on
// which locales the host has installed.
char32_t Lower(char32_t r) {
  return static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(r)));
}

char32_t Upper(char32_t r) {
  return static_cast<char32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(r)));
}

// A representative of r's simple case-folding class. The dotted capital I
// and the dotless small i fold only under Turkic rules, so each is alone.
char32_t FoldClass(char32_t r) {
  if (r == 0x130 || r == 0x131) return r;
  return Lower(Upper(r));
}

}  // namespace

std::string ToLowerUnicode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0, w = 0; i < s.size(); i += w) AppendRune(out, Lower(DecodeRune(s, i, &w)));
  return out;
}

bool EqualFoldUnicode(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    size_t wa, wb;
    char32_t ra = DecodeRune(a, i, &wa), rb = DecodeRune(b, j, &wb);
    if (ra != rb && FoldClass(ra) != FoldClass(rb)) return false;
    i += wa;
    j += wb;
  }
  return i == a.size() && j == b.size();
}

}  // namespace quorvane
