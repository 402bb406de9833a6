#include "encryptedparams/crypter.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

namespace quorvane::encryptedparams {
namespace {

std::string FromHex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    i += 2;
  }
  return out;
}

// Published keystreams (RFC 6229): RC4 of zero bytes is the keystream itself.
TEST(Rc4Test, PublishedKeystreams) {
  struct Case {
    const char* key;
    size_t offset;
    const char* keystream;
  } cases[] = {
      {"0102030405", 0, "b2 39 63 05 f0 3d c0 27 cc c3 52 4a 0a 11 18 a8"},
      {"0102030405", 16, "69 82 94 4f 18 fc 82 d5 89 c4 03 a4 7a 0d 09 19"},
      {"0102030405", 240, "28 cb 11 32 c9 6c e2 86 42 1d ca ad b8 b6 9e ae"},
      {"0102030405", 4096, "ff 25 b5 89 95 99 67 07 e5 1f bd f0 8b 34 d8 75"},
      {"01020304050607", 0, "29 3f 02 d4 7f 37 c9 b6 33 f2 af 52 85 fe b4 6b"},
      {"01020304050607", 240, "91 4f 02 53 1c 92 18 81 0d f6 0f 67 e3 38 15 4c"},
      {"0102030405060708090a0b0c0d0e0f10", 0, "9a c7 cc 9a 60 9d 1e f7 b2 93 28 99 cd e4 1b 97"},
  };
  for (const Case& c : cases) {
    Result<std::string> out = doRC4(std::string(c.offset + 16, '\0'), FromHex(c.key));
    ASSERT_TRUE(out.ok()) << out.error().message;
    EXPECT_EQ(out->substr(c.offset), FromHex(c.keystream)) << c.key << " at " << c.offset;
  }
}

TEST(Rc4Test, TextVectors) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"Key", "Plaintext", "bb f3 16 e8 d9 40 af 0a d3"},
      {"Wiki", "pedia", "10 21 bf 04 20"},
      {"Secret", "Attack at dawn", "45 a0 1f 64 5f c3 5b 38 35 52 54 4b 9b f5"},
  };
  for (const auto& [key, plain, cipher] : cases) {
    EXPECT_EQ(doRC4(plain, key).value(), FromHex(cipher)) << key;
    EXPECT_EQ(doRC4(FromHex(cipher), key).value(), plain) << key;
  }
}

TEST(Rc4Test, KeySize) {
  EXPECT_EQ(doRC4("data", "").error().message, "crypto/rc4: invalid key size 0");
  EXPECT_EQ(doRC4("", "").error().message, "crypto/rc4: invalid key size 0");
  EXPECT_EQ(doRC4("data", std::string(257, 'k')).error().message,
            "crypto/rc4: invalid key size 257");
  EXPECT_EQ(doRC4("data", std::string(1000, 'k')).error().message,
            "crypto/rc4: invalid key size 1000");
  EXPECT_TRUE(doRC4("data", std::string(1, 'k')).ok());
  EXPECT_TRUE(doRC4("data", std::string(256, 'k')).ok());
  EXPECT_EQ(doRC4("", "k").value(), "");
}

// Against OpenSSL's RC4 for key lengths across the whole range, so that the
// repetition of short keys and keys of 256 bytes are both covered.
TEST(Rc4Test, AgreesWithOpenSsl) {
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
  EVP_CIPHER* rc4 = EVP_CIPHER_fetch(nullptr, "RC4", nullptr);
  if (rc4 == nullptr) GTEST_SKIP() << "OpenSSL has no RC4 here";

  std::string data(3000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
  for (size_t len : {1, 2, 3, 5, 13, 16, 64, 255, 256}) {
    std::string key(len, '\0');
    for (size_t i = 0; i < len; ++i) key[i] = static_cast<char>(0xA5 ^ (i * 31));
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_EncryptInit_ex2(ctx, rc4, nullptr, nullptr, nullptr), 1);
    ASSERT_EQ(EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(len)), 1);
    ASSERT_EQ(EVP_EncryptInit_ex2(ctx, nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                                  nullptr, nullptr),
              1);
    std::string want(data.size(), '\0');
    int outl = 0;
    ASSERT_EQ(EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(want.data()), &outl,
                                reinterpret_cast<const unsigned char*>(data.data()),
                                static_cast<int>(data.size())),
              1);
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_EQ(doRC4(data, key).value(), want) << "key length " << len;
  }
  EVP_CIPHER_free(rc4);
  OSSL_PROVIDER_unload(legacy);
  OSSL_PROVIDER_unload(deflt);
}

TEST(Rc4Test, EachCallStartsFresh) {
  const std::string a = doRC4("same text", "key").value();
  EXPECT_EQ(doRC4("same text", "key").value(), a);
  EXPECT_EQ(doRC4(a, "key").value(), "same text");
}

TEST(CrypterTest, OnlyExactRc4) {
  Result<const crypter*> c = CryptType("rc4").getCrypter();
  ASSERT_TRUE(c.ok());
  EXPECT_EQ((*c)->Encrypt("Plaintext", "Key").value(), FromHex("bbf316e8d940af0ad3"));
  EXPECT_EQ((*c)->Decrypt(FromHex("bbf316e8d940af0ad3"), "Key").value(), "Plaintext");
  EXPECT_EQ((*c)->Encrypt("x", "").error().message, "crypto/rc4: invalid key size 0");

  for (const char* name : {"RC4", "Rc4", "rc4 ", " rc4", "", "rc", "rc44", "aes"}) {
    Result<const crypter*> bad = CryptType(name).getCrypter();
    ASSERT_FALSE(bad.ok()) << name;
    EXPECT_EQ(bad.error().message, "unsupported type") << name;
  }
  EXPECT_EQ(&errUnsupportedType(), &errUnsupportedType());
}

}  // namespace
}  // namespace quorvane::encryptedparams
