// The encrypted parameter record: Base64 of a JSON object whose "data" is the
// RC4 ciphertext (in Base64) of a parameter text, keyed by its "entropy".
#ifndef QUORVANE_ENCRYPTEDPARAMS_ENCRYPTED_PARAMS_H_
#define QUORVANE_ENCRYPTEDPARAMS_ENCRYPTED_PARAMS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.h"
#include "encryptedparams/crypter.h"

namespace quorvane::encryptedparams {

struct DecryptedParams;

struct EncryptedParams {
  uint64_t Version = 0;                  // "ver"; carried, never tested
  encryptedparams::CryptType CryptType;  // "type"
  std::string Data;                      // "data": ciphertext in Base64
  std::string OptionalEntropy;           // "entropy": its bytes are the key

  // Checks in order: type, Base64 of Data, key length. The record is not
  // changed; Data of the result is the plain text, unchecked.
  Result<DecryptedParams> Decrypt() const;

  // The compact JSON text: {"ver":N,"type":"..","data":".."[,"entropy":".."]},
  // "entropy" left out when empty.
  std::string ToJSON() const;

  // The value of --encrypted-params: the standard Base64 of ToJSON().
  std::string ToOptionValue() const;

  bool operator==(const EncryptedParams&) const = default;
};

struct DecryptedParams {
  uint64_t Version = 0;
  encryptedparams::CryptType CryptType;
  std::string Data;  // the plain parameter text
  std::string OptionalEntropy;

  // Checks in order: type, key length. Data of the result is the Base64 of
  // the ciphertext; the other fields are copied.
  Result<EncryptedParams> Encrypt() const;

  bool operator==(const DecryptedParams&) const = default;
};

// Decodes a --encrypted-params value: standard Base64, then one JSON value
// (an object, or null for the empty record).
Result<EncryptedParams> NewEncryptedParamsFromString(std::string_view text);

}  // namespace quorvane::encryptedparams

#endif  // QUORVANE_ENCRYPTEDPARAMS_ENCRYPTED_PARAMS_H_
