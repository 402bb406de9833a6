// The encrypted parameter record. Two ways in:
// - the input is a --encrypted-params value: it is decoded and decrypted;
//   a decrypted text, encrypted again and decrypted, gives the same text,
//   and so does the option value of the new record;
// - the input (after a first byte 0x01) is a key length, a key and a text:
//   Encrypt, serialise to the option value, decode, decrypt, compare.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/utf8.h"
#include "encryptedparams/encrypted_params.h"
#include "fuzz_support.h"

namespace {

using namespace quorvane::encryptedparams;
using quorvane::fuzz::Check;

// Encrypts plain and reads it back through its option value.
void CheckRoundTrip(const DecryptedParams& plain) {
  auto encrypted = plain.Encrypt();
  if (!encrypted.ok()) {
    const bool valid_key = !plain.OptionalEntropy.empty() && plain.OptionalEntropy.size() <= 256;
    Check(!valid_key || plain.CryptType.str() != "rc4", "encryption refused a valid key",
          encrypted.error().message);
    return;
  }
  auto direct = encrypted->Decrypt();
  Check(direct.ok() && *direct == plain, "decrypt(encrypt(x)) != x");

  auto decoded = NewEncryptedParamsFromString(encrypted->ToOptionValue());
  Check(decoded.ok(), "own option value does not decode",
        decoded.ok() ? std::string() : decoded.error().message);
  Check(*decoded == *encrypted, "option value decodes to another record");
  auto back = decoded->Decrypt();
  Check(back.ok() && back->Data == plain.Data, "text changed through the option value");
}

void FromOptionValue(std::string_view input) {
  auto record = NewEncryptedParamsFromString(input);
  if (!record.ok()) return;
  auto plain = record->Decrypt();
  if (!plain.ok()) return;
  CheckRoundTrip(*plain);
}

void FromKeyAndText(std::string_view input) {
  if (input.empty()) return;
  size_t key_length = static_cast<uint8_t>(input[0]) + 1u;
  input.remove_prefix(1);
  if (key_length > input.size()) key_length = input.size();
  DecryptedParams plain;
  plain.Version = key_length;
  plain.CryptType = "rc4";
  // The key travels as a JSON string, so it is valid UTF-8 wherever it comes from.
  plain.OptionalEntropy = quorvane::ToValidUtf8(input.substr(0, key_length));
  plain.Data = std::string(input.substr(key_length));
  CheckRoundTrip(plain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!input.empty() && input[0] == '\x01') {
    FromKeyAndText(input.substr(1));
  } else {
    FromOptionValue(input);
  }
  return 0;
}
