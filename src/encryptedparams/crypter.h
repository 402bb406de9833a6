// The ciphers of the encrypted parameter record.
#ifndef QUORVANE_ENCRYPTEDPARAMS_CRYPTER_H_
#define QUORVANE_ENCRYPTEDPARAMS_CRYPTER_H_

#include <string>
#include <string_view>
#include <utility>

#include "common/error.h"

namespace quorvane::encryptedparams {

// A cipher. Both operations return a new byte string of data's length.
class crypter {
 public:
  virtual ~crypter() = default;
  virtual Result<std::string> Decrypt(std::string_view data, std::string_view key) const = 0;
  virtual Result<std::string> Encrypt(std::string_view data, std::string_view key) const = 0;
};

// RC4: encryption and decryption are the same operation.
class rc4Crypter final : public crypter {
 public:
  Result<std::string> Decrypt(std::string_view data, std::string_view key) const override;
  Result<std::string> Encrypt(std::string_view data, std::string_view key) const override;
};

// The name of a cipher, as the record's "type" carries it.
class CryptType {
 public:
  CryptType() = default;
  CryptType(std::string name) : name_(std::move(name)) {}
  CryptType(const char* name) : name_(name) {}

  const std::string& str() const { return name_; }
  bool empty() const { return name_.empty(); }
  bool operator==(const CryptType&) const = default;

  // Exactly "rc4" gives the RC4 crypter; any other name errUnsupportedType().
  // The crypter is a shared, stateless instance.
  Result<const crypter*> getCrypter() const;

 private:
  std::string name_;
};

// The record names a cipher that this build does not have: "unsupported
// type". One value, shared by every call.
const Error& errUnsupportedType();

// RC4 of data under key (1 to 256 bytes), from a fresh state, with no
// keystream bytes discarded. Otherwise "crypto/rc4: invalid key size N".
Result<std::string> doRC4(std::string_view data, std::string_view key);

}  // namespace quorvane::encryptedparams

#endif  // QUORVANE_ENCRYPTEDPARAMS_CRYPTER_H_
