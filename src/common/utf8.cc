#include "common/utf8.h"

namespace quorvane {

char32_t DecodeRune(std::string_view s, size_t pos, size_t* width) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  *width = 1;
  const unsigned char b0 = byte(pos);
  if (b0 < 0x80) return b0;
  size_t need;
  char32_t r;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    r = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    r = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    r = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return kReplacementChar;
  }
  if (pos + need >= s.size()) return kReplacementChar;  // truncated
  for (size_t k = 1; k <= need; ++k) {
    const unsigned char b = byte(pos + k);
    const unsigned char min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
    if (b < min || b > max) return kReplacementChar;
    r = (r << 6) | (b & 0x3F);
  }
  *width = need + 1;
  return r;
}

void AppendRune(std::string& out, char32_t r) {
  if (r > 0x10FFFF || (r >= 0xD800 && r <= 0xDFFF)) r = kReplacementChar;
  if (r < 0x80) {
    out += static_cast<char>(r);
  } else if (r < 0x800) {
    out += static_cast<char>(0xC0 | (r >> 6));
    out += static_cast<char>(0x80 | (r & 0x3F));
  } else if (r < 0x10000) {
    out += static_cast<char>(0xE0 | (r >> 12));
    out += static_cast<char>(0x80 | ((r >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (r & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (r >> 18));
    out += static_cast<char>(0x80 | ((r >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((r >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (r & 0x3F));
  }
}

size_t CountRunes(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0, w = 0; i < s.size(); i += w, ++n) DecodeRune(s, i, &w);
  return n;
}

std::string ToValidUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0, w = 0; i < s.size(); i += w) {
    char32_t r = DecodeRune(s, i, &w);
    if (r == kReplacementChar && w == 1) {
      AppendRune(out, r);
    } else {
      out.append(s.substr(i, w));
    }
  }
  return out;
}

}  // namespace quorvane
