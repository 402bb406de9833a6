#include "common/unicode_case.h"

#include <locale.h>
#include <wctype.h>

#include "common/utf8.h"

namespace quorvane {
namespace {

locale_t Utf8Locale() {
  static locale_t loc = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
      if (l != static_cast<locale_t>(0)) return l;
    }
    return static_cast<locale_t>(0);
  }();
  return loc;
}

char32_t Lower(char32_t r) {
  if (r < 0x80) return (r >= 'A' && r <= 'Z') ? r + ('a' - 'A') : r;
  locale_t loc = Utf8Locale();
  if (loc == static_cast<locale_t>(0)) return r;
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(r), loc));
}

char32_t Upper(char32_t r) {
  if (r < 0x80) return (r >= 'a' && r <= 'z') ? r - ('a' - 'A') : r;
  locale_t loc = Utf8Locale();
  if (loc == static_cast<locale_t>(0)) return r;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(r), loc));
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
