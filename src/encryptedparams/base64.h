// encryptedparams/: the encrypted parameter record on its own, knowing
// nothing of the installer: Base64 with the record's error offsets
// (base64), the JSON record (record_json), the RC4 crypter chosen by the
// record's type (crypter), decryption and re-encryption of a record
// (encrypted_params), and the split of its text into option words (parse).
//
// Standard Base64 (alphabet A-Z a-z 0-9 + /, "=" padding).
#ifndef QUORVANE_ENCRYPTEDPARAMS_BASE64_H_
#define QUORVANE_ENCRYPTEDPARAMS_BASE64_H_

#include <string>
#include <string_view>

#include "common/error.h"

namespace quorvane::encryptedparams {

// Padded with "=", without line breaks.
std::string Base64Encode(std::string_view data);

// "\r" and "\n" are skipped anywhere; padding is required; the unused low
// bits of the last character are not tested. Fails with "illegal base64
// data at input byte N", N counted over the whole text.
Result<std::string> Base64Decode(std::string_view text);

}  // namespace quorvane::encryptedparams

#endif  // QUORVANE_ENCRYPTEDPARAMS_BASE64_H_
