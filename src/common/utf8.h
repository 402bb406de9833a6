// UTF-8 decoding with one U+FFFD per byte that does not begin a valid sequence.
#ifndef QUORVANE_COMMON_UTF8_H_
#define QUORVANE_COMMON_UTF8_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// Decodes the code point at s[pos]. Sets *width to the bytes it took: an
// invalid, overlong, surrogate or truncated sequence gives U+FFFD and width 1.
char32_t DecodeRune(std::string_view s, size_t pos, size_t* width);

void AppendRune(std::string& out, char32_t r);

// The number of code points, invalid bytes counting one each.
size_t CountRunes(std::string_view s);

// s with every invalid byte replaced by U+FFFD.
std::string ToValidUtf8(std::string_view s);

}  // namespace quorvane

#endif  // QUORVANE_COMMON_UTF8_H_
