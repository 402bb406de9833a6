#include "encryptedparams/encrypted_params.h"

#include <utility>

#include "encryptedparams/base64.h"
#include "encryptedparams/record_json.h"

namespace quorvane::encryptedparams {

Result<EncryptedParams> NewEncryptedParamsFromString(std::string_view text) {
  Result<std::string> json = Base64Decode(text);
  if (!json.ok()) return json.error();
  RecordFields fields;
  Status s = DecodeRecordJSON(*json, &fields);
  if (!s.ok()) return s.error();
  return EncryptedParams{fields.Version, CryptType(std::move(fields.CryptType)),
                         std::move(fields.Data), std::move(fields.OptionalEntropy)};
}

Result<DecryptedParams> EncryptedParams::Decrypt() const {
  Result<const crypter*> c = CryptType.getCrypter();
  if (!c.ok()) return c.error();
  Result<std::string> ciphertext = Base64Decode(Data);
  if (!ciphertext.ok()) return ciphertext.error();
  Result<std::string> plain = (*c)->Decrypt(*ciphertext, OptionalEntropy);
  if (!plain.ok()) return plain.error();
  return DecryptedParams{Version, CryptType, std::move(plain).value(), OptionalEntropy};
}

Result<EncryptedParams> DecryptedParams::Encrypt() const {
  Result<const crypter*> c = CryptType.getCrypter();
  if (!c.ok()) return c.error();
  Result<std::string> ciphertext = (*c)->Encrypt(Data, OptionalEntropy);
  if (!ciphertext.ok()) return ciphertext.error();
  return EncryptedParams{Version, CryptType, Base64Encode(*ciphertext), OptionalEntropy};
}

std::string EncryptedParams::ToJSON() const {
  std::string out = "{\"ver\":" + std::to_string(Version) + ",\"type\":";
  AppendJSONString(out, CryptType.str());
  out += ",\"data\":";
  AppendJSONString(out, Data);
  if (!OptionalEntropy.empty()) {
    out += ",\"entropy\":";
    AppendJSONString(out, OptionalEntropy);
  }
  out += '}';
  return out;
}

std::string EncryptedParams::ToOptionValue() const { return Base64Encode(ToJSON()); }

}  // namespace quorvane::encryptedparams
