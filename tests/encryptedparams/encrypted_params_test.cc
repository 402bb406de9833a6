#include "encryptedparams/encrypted_params.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "encryptedparams/base64.h"

namespace quorvane::encryptedparams {
namespace {

Result<EncryptedParams> FromJSON(std::string_view json) {
  return NewEncryptedParamsFromString(Base64Encode(json));
}

const std::string kFFFD = "\xEF\xBF\xBD";

TEST(RecordDecodeTest, Accepted) {
  struct Case {
    std::string json;
    EncryptedParams want;
  } cases[] = {
      {R"({"ver":1,"type":"rc4","data":"AAAA","entropy":"key"})", {1, "rc4", "AAAA", "key"}},
      {"null", {}},
      {" \t\r\n null \n", {}},
      {"{}", {}},
      {" {\"ver\" : 7 } \r\n", {7, "", "", ""}},
      {R"({"ver":0})", {}},
      {R"({"ver":18446744073709551615})", {UINT64_MAX, "", "", ""}},
      {R"({"ver":null,"type":null,"data":null,"entropy":null})", {}},
      // Letter case, then the last occurrence wins; null keeps what was there.
      {R"({"VER":3,"Type":"rc4","DATA":"d","Entropy":"k"})", {3, "rc4", "d", "k"}},
      {R"({"type":"x","TYPE":"rc4"})", {0, "rc4", "", ""}},
      {R"({"TYPE":"rc4","type":"x"})", {0, "x", "", ""}},
      {R"({"type":"rc4","type":null})", {0, "rc4", "", ""}},
      {R"({"ver":2,"ver":5})", {5, "", "", ""}},
      // Other members are ignored whatever they hold, nested names included.
      {R"({"other":{"type":5,"x":[1,{"ver":"no"}]},"type":"rc4","y":[true,null,-1.5e3]})",
       {0, "rc4", "", ""}},
      {R"({"big":1e400,"long":123456789012345678901234567890,"ver":2})", {2, "", "", ""}},
      {R"({"typ":"x","types":"y","type ":"z"})", {}},
      // String contents: escapes, invalid bytes and lone surrogates.
      {R"({"entropy":"a\u0000b\/\"\\\u00e9\t"})",
       {0, "", "", std::string("a\0b/\"\\\xC3\xA9\t", 9)}},
      {"{\"entropy\":\"a\xFF"
       "b\"}",
       {0, "", "", "a" + kFFFD + "b"}},
      {"{\"entropy\":\"\xE2\x82\"}", {0, "", "", kFFFD + kFFFD}},
      {"{\"entropy\":\"\xC0\xAF\xED\xA0\x80\"}",
       {0, "", "", kFFFD + kFFFD + kFFFD + kFFFD + kFFFD}},
      {R"({"entropy":"\ud800"})", {0, "", "", kFFFD}},
      {R"({"entropy":"\udc00x"})", {0, "", "", kFFFD + "x"}},
      {R"({"entropy":"\uD83D\uDE00"})", {0, "", "", "\xF0\x9F\x98\x80"}},
      {R"({"entropy":"\ud800\u0041"})", {0, "", "", kFFFD + "A"}},
      {R"({"entropy":"\ud800\ud83d\ude00"})", {0, "", "", kFFFD + "\xF0\x9F\x98\x80"}},
      {R"({"entropy":"\udc00\ud800"})", {0, "", "", kFFFD + kFFFD}},
      {R"({"entropy":"\\ud800"})", {0, "", "", "\\ud800"}},
      {"{\"\xFFtype\":\"x\"}", {}},
  };
  for (const Case& c : cases) {
    Result<EncryptedParams> got = FromJSON(c.json);
    ASSERT_TRUE(got.ok()) << c.json << ": " << got.error().message;
    EXPECT_EQ(*got, c.want) << c.json;
  }
}

TEST(RecordDecodeTest, Refused) {
  const std::string cases[] = {
      "",
      "   ",
      R"({"ver":1.0})",
      R"({"ver":-1})",
      R"({"ver":-0})",
      R"({"ver":1e2})",
      R"({"ver":18446744073709551616})",
      R"({"ver":"1"})",
      R"({"ver":true})",
      R"({"ver":[]})",
      R"({"ver":{}})",
      R"({"ver":01})",
      R"({"type":5})",
      R"({"Type":false})",
      R"({"data":["x"]})",
      R"({"entropy":{"a":"b"}})",
      R"({"type":"rc4"} x)",
      R"({"type":"rc4"}{})",
      R"({"type":"rc4"})"
      "\v",
      R"({"type":"rc4",})",
      R"({"type":"rc4")",
      R"({'type':'rc4'})",
      R"({type:"rc4"})",
      "{\"type\":\"a\nb\"}",
      R"({"type":"\x"})",
      R"({"type":"\U0041"})",
      R"({"type":"\u00"})",
      "\xEF\xBB\xBF{}",
      "{\"x\":1} \xFF",
      R"([])",
      R"(["rc4"])",
      R"("rc4")",
      R"(5)",
      R"(true)",
      R"({"a":1 /* note */})",
      R"({"a":NaN})",
      R"({"a":1e5e5})",
      R"({"a":1.5e+})",
      R"({"a":1.})",
      R"({"a":.5})",
      R"({"a":-})",
      R"({"a":+1})",
  };
  for (const std::string& json : cases) {
    EXPECT_FALSE(FromJSON(json).ok()) << json;
  }
}

TEST(RecordDecodeTest, Base64ErrorOfTheValue) {
  EXPECT_EQ(NewEncryptedParamsFromString("e30").error().message,
            "illegal base64 data at input byte 0");
  EXPECT_EQ(NewEncryptedParamsFromString("e30= ").error().message,
            "illegal base64 data at input byte 4");
  // Line breaks in the value are skipped.
  EXPECT_TRUE(NewEncryptedParamsFromString("e3\r\n0=\n").ok());
  EXPECT_FALSE(NewEncryptedParamsFromString("").ok());  // no JSON value at all
}

// "Plaintext" under the key "Key" (a published RC4 vector), in Base64.
constexpr char kCipherB64[] = "u/MW6NlArwrT";

TEST(RecordCryptTest, DecryptChecksInOrder) {
  struct Case {
    EncryptedParams record;
    std::optional<std::string> text;  // or the error
    std::string error;
  } cases[] = {
      {{1, "rc4", kCipherB64, "Key"}, "Plaintext", ""},
      {{1, "rc4", "u/MW\r\n6NlA\nrwrT\n", "Key"}, "Plaintext", ""},
      {{1, "rc4", "", "Key"}, "", ""},
      {{1, "RC4", kCipherB64, "Key"}, std::nullopt, "unsupported type"},
      {{1, "rc4 ", kCipherB64, "Key"}, std::nullopt, "unsupported type"},
      {{1, "", kCipherB64, "Key"}, std::nullopt, "unsupported type"},
      {{1, "RC4", "not base64!", ""}, std::nullopt, "unsupported type"},
      {{1, "rc4", "u/MW 6NlA", ""}, std::nullopt, "illegal base64 data at input byte 4"},
      {{1, "rc4", "u/MW6NlArwr", "Key"}, std::nullopt, "illegal base64 data at input byte 8"},
      {{1, "rc4", kCipherB64, ""}, std::nullopt, "crypto/rc4: invalid key size 0"},
      {{1, "rc4", "", ""}, std::nullopt, "crypto/rc4: invalid key size 0"},
      {{1, "rc4", kCipherB64, std::string(257, 'k')},
       std::nullopt,
       "crypto/rc4: invalid key size 257"},
      // Counted in bytes: 129 two-byte characters.
      {{1, "rc4", kCipherB64,
        [] {
          std::string s;
          for (int i = 0; i < 129; ++i) s += "\xC3\xA9";
          return s;
        }()},
       std::nullopt,
       "crypto/rc4: invalid key size 258"},
  };
  for (const Case& c : cases) {
    Result<DecryptedParams> got = c.record.Decrypt();
    if (!c.text) {
      ASSERT_FALSE(got.ok()) << c.error;
      EXPECT_EQ(got.error().message, c.error);
      continue;
    }
    ASSERT_TRUE(got.ok()) << got.error().message;
    EXPECT_EQ(*got, (DecryptedParams{1, "rc4", *c.text, c.record.OptionalEntropy}));
  }
}

TEST(RecordCryptTest, KeyOf256BytesIsAccepted) {
  std::string key;
  for (int i = 0; i < 128; ++i) key += "\xC3\xA9";  // 256 bytes
  DecryptedParams plain{9, "rc4", "--no-check --temp-dir \"/a b\"", key};
  Result<EncryptedParams> enc = plain.Encrypt();
  ASSERT_TRUE(enc.ok()) << enc.error().message;
  EXPECT_EQ(enc->Decrypt().value(), plain);
}

TEST(RecordCryptTest, EncryptChecksInOrder) {
  EXPECT_EQ((DecryptedParams{1, "RC4", "x", ""}).Encrypt().error().message, "unsupported type");
  EXPECT_EQ((DecryptedParams{1, "rc4", "x", ""}).Encrypt().error().message,
            "crypto/rc4: invalid key size 0");
  EXPECT_EQ((DecryptedParams{1, "rc4", "x", std::string(300, 'k')}).Encrypt().error().message,
            "crypto/rc4: invalid key size 300");

  Result<EncryptedParams> enc = (DecryptedParams{7, "rc4", "Plaintext", "Key"}).Encrypt();
  ASSERT_TRUE(enc.ok());
  EXPECT_EQ(*enc, (EncryptedParams{7, "rc4", kCipherB64, "Key"}));
  EXPECT_EQ((DecryptedParams{7, "rc4", "", "Key"}).Encrypt().value().Data, "");
}

// Decrypting and encrypting again gives the canonical form of the same
// ciphertext: line breaks gone, unused low bits cleared.
TEST(RecordCryptTest, ReEncryptionKeepsTheCiphertext) {
  // "pedia" under "Wiki" is 10 21 bf 04 20: "ECG/BCA=". "ECG/BCB=" differs
  // only in unused low bits.
  for (const char* data : {"ECG/BCA=", "ECG/BCB=", "ECG/\r\nBCA=\n"}) {
    EncryptedParams given{1, "rc4", data, "Wiki"};
    Result<DecryptedParams> dec = given.Decrypt();
    ASSERT_TRUE(dec.ok()) << data;
    EXPECT_EQ(dec->Data, "pedia");
    EXPECT_EQ(dec->Encrypt().value().Data, "ECG/BCA=") << data;
  }
}

TEST(RecordJsonTest, CompactForm) {
  EXPECT_EQ((EncryptedParams{1, "rc4", "AAAA", "k"}).ToJSON(),
            R"({"ver":1,"type":"rc4","data":"AAAA","entropy":"k"})");
  EXPECT_EQ((EncryptedParams{}).ToJSON(), R"({"ver":0,"type":"","data":""})");
  EXPECT_EQ((EncryptedParams{UINT64_MAX, "rc4", "", ""}).ToJSON(),
            R"({"ver":18446744073709551615,"type":"rc4","data":""})");
  EXPECT_EQ((EncryptedParams{1, "rc4", "AAAA", "k"}).ToOptionValue(),
            Base64Encode(R"({"ver":1,"type":"rc4","data":"AAAA","entropy":"k"})"));
}

TEST(RecordJsonTest, Escapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"\"\\", R"(\"\\)"},
      {"<>&", R"(\u003c\u003e\u0026)"},
      {"\b\f\n\r\t", R"(\b\f\n\r\t)"},
      {std::string("\x00\x01\x1f", 3), R"(\u0000\u0001\u001f)"},
      {"\x7f/\xC3\xA9\xF0\x9F\x98\x80", "\x7f/\xC3\xA9\xF0\x9F\x98\x80"},
      {"\xE2\x80\xA8\xE2\x80\xA9", R"(\u2028\u2029)"},
      {"\xE2\x80\xA7", "\xE2\x80\xA7"},
      {"a\xFF", R"(a\ufffd)"},
  };
  for (const auto& [entropy, escaped] : cases) {
    EncryptedParams rec{1, "rc4", "", entropy};
    EXPECT_EQ(rec.ToJSON(), R"({"ver":1,"type":"rc4","data":"","entropy":")" + escaped + "\"}")
        << escaped;
  }
}

// The whole path of a given value: decoded, decrypted, encrypted and
// written again.
TEST(RecordRoundTripTest, GivenValueWrittenBack) {
  const std::string entropy = "k\"<\x01\xC3\xA9";
  const std::string data =
      DecryptedParams{0, "rc4", "--kill --no-check", entropy}.Encrypt().value().Data;
  std::string json =
      R"({"TYPE":"rc4","extra":[1,2],"Data":")" + data + R"(","entropy":"k\"\u003c\u0001é"})";
  Result<EncryptedParams> given = FromJSON(json);
  ASSERT_TRUE(given.ok()) << given.error().message;
  Result<DecryptedParams> dec = given->Decrypt();
  ASSERT_TRUE(dec.ok()) << dec.error().message;
  EXPECT_EQ(dec->Data, "--kill --no-check");

  Result<EncryptedParams> again = dec->Encrypt();
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again->ToJSON(),
            R"({"ver":0,"type":"rc4","data":")" + data + R"(","entropy":"k\"\u003c\u0001é"})");
  Result<EncryptedParams> reread = NewEncryptedParamsFromString(again->ToOptionValue());
  ASSERT_TRUE(reread.ok());
  EXPECT_EQ(*reread, *again);
  EXPECT_EQ(reread->Decrypt().value(), *dec);
}

TEST(RecordRoundTripTest, EncryptThenDecrypt) {
  const std::string texts[] = {
      "",
      "--help",
      std::string("a\0b\xFF\n", 5),
      std::string(5000, 'x'),
      "--temp-dir \"/tmp/with blank\" --debug-dir /d",
  };
  for (const std::string& text : texts) {
    for (uint64_t ver : {uint64_t{0}, uint64_t{1}, UINT64_MAX}) {
      DecryptedParams plain{ver, "rc4", text, "secret key"};
      Result<EncryptedParams> enc = plain.Encrypt();
      ASSERT_TRUE(enc.ok());
      Result<EncryptedParams> decoded = NewEncryptedParamsFromString(enc->ToOptionValue());
      ASSERT_TRUE(decoded.ok()) << decoded.error().message;
      EXPECT_EQ(decoded->Decrypt().value(), plain);
    }
  }
}

}  // namespace
}  // namespace quorvane::encryptedparams
