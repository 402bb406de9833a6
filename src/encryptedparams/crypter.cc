#include "encryptedparams/crypter.h"

#include <array>
#include <cstdint>
#include <utility>

namespace quorvane::encryptedparams {

namespace {

constexpr size_t kMaxKeySize = 256;

// The RC4 state after the key schedule.
struct Rc4State {
  std::array<uint8_t, 256> s;
  uint8_t i = 0, j = 0;

  explicit Rc4State(std::string_view key) {
    for (size_t k = 0; k < s.size(); ++k) s[k] = static_cast<uint8_t>(k);
    uint8_t jj = 0;
    for (size_t k = 0; k < s.size(); ++k) {
      jj = static_cast<uint8_t>(jj + s[k] + static_cast<uint8_t>(key[k % key.size()]));
      std::swap(s[k], s[jj]);
    }
  }

  uint8_t Next() {
    i = static_cast<uint8_t>(i + 1);
    j = static_cast<uint8_t>(j + s[i]);
    std::swap(s[i], s[j]);
    return s[static_cast<uint8_t>(s[i] + s[j])];
  }
};

}  // namespace

Result<std::string> doRC4(std::string_view data, std::string_view key) {
  if (key.empty() || key.size() > kMaxKeySize) {
    return Error("crypto/rc4: invalid key size " + std::to_string(key.size()));
  }
  Rc4State state(key);
  std::string out(data);
  for (char& c : out) c = static_cast<char>(static_cast<uint8_t>(c) ^ state.Next());
  return out;
}

Result<std::string> rc4Crypter::Decrypt(std::string_view data, std::string_view key) const {
  return doRC4(data, key);
}

Result<std::string> rc4Crypter::Encrypt(std::string_view data, std::string_view key) const {
  return doRC4(data, key);
}

Result<const crypter*> CryptType::getCrypter() const {
  static const rc4Crypter kRc4;
  if (name_ == "rc4") return static_cast<const crypter*>(&kRc4);
  return errUnsupportedType();
}

const Error& errUnsupportedType() {
  static const Error kError("unsupported type");
  return kError;
}

}  // namespace quorvane::encryptedparams
