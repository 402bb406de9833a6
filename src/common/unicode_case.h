// Unicode simple case mapping from utf8proc's tables (Unicode 15), the
// same on every host whatever locales it has.
#ifndef QUORVANE_COMMON_UNICODE_CASE_H_
#define QUORVANE_COMMON_UNICODE_CASE_H_

#include <string>
#include <string_view>

namespace quorvane {

// Each code point by its simple lower-case mapping ("İ" becomes "i"); each
// byte that does not begin a valid UTF-8 sequence becomes U+FFFD.
std::string ToLowerUnicode(std::string_view s);

// Equal under simple case folding, code point by code point.
bool EqualFoldUnicode(std::string_view a, std::string_view b);

}  // namespace quorvane

#endif  // QUORVANE_COMMON_UNICODE_CASE_H_
