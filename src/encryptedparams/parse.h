// Splitting a decrypted parameter text into option words.
#ifndef QUORVANE_ENCRYPTEDPARAMS_PARSE_H_
#define QUORVANE_ENCRYPTEDPARAMS_PARSE_H_

#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace quorvane::encryptedparams {

// Splits text like shell arguments (white space, single and double quotes,
// backslash; nothing else is interpreted), after dropping trailing NUL
// bytes, then trims quotation marks from both ends of every word. Invalid
// UTF-8 bytes are read as U+FFFD. Fails with "No closing quotation" or "No
// escaped character".
Result<std::vector<std::string>> Parse(std::string_view text);

// True for the 30 characters with the Unicode Quotation_Mark property.
bool isQuotationMark(char32_t c);

}  // namespace quorvane::encryptedparams

#endif  // QUORVANE_ENCRYPTEDPARAMS_PARSE_H_
