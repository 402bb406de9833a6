#include "encryptedparams/base64.h"

#include <gtest/gtest.h>

namespace quorvane::encryptedparams {
namespace {

TEST(Base64Test, Encode) {
  const std::pair<std::string, const char*> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"\xff\xfe\xfd", "//79"},
      {std::string("\0\0", 2), "AAA="},
      {"\xfb\xff", "+/8="},
  };
  for (const auto& [data, want] : cases) EXPECT_EQ(Base64Encode(data), want) << want;
}

TEST(Base64Test, DecodeAccepted) {
  const std::pair<const char*, std::string> cases[] = {
      {"", ""},
      {"Zm9vYmFy", "foobar"},
      {"Zm9vYmE=", "fooba"},
      {"Zm9vYg==", "foob"},
      {"//79+/8=", "\xff\xfe\xfd\xfb\xff"},
      // Line breaks are skipped anywhere, padding included.
      {"\r\nZm9v\r\nYmFy\r\n", "foobar"},
      {"Z\nm\r9\nv", "foo"},
      {"Zm9vYg=\n=", "foob"},
      {"Zm9vYg=\r\n=\n\n", "foob"},
      {"\n\r\n", ""},
      // Unused low bits of the last character are not tested.
      {"QR==", "A"},
      {"QUJ=", "AB"},
      {"Zm9vYh==", "foob"},
  };
  for (const auto& [text, want] : cases) {
    Result<std::string> got = Base64Decode(text);
    ASSERT_TRUE(got.ok()) << text << ": " << got.error().message;
    EXPECT_EQ(*got, want) << text;
  }
}

TEST(Base64Test, DecodeErrorOffsets) {
  const std::pair<std::string, int> cases[] = {
      {"Zm9v YmFy", 4},   // a blank is not skipped
      {"Zm9v\tYmFy", 4},  // nor a tab
      {"Zm9", 0},         // ends inside a group: where the group began
      {"Zm9vYm", 4},
      {"Z", 0},
      {"Zm9vYg=", 7},  // one "=" where two are needed: the length
      {"Zm9vYg=\n", 8},
      {"Zm9vYg=A", 6},      // "=" not followed by the second one
      {"=m9v", 0},          // "=" in the first place of a group
      {"Z===", 1},          // ... or the second
      {"Zm9vYg==Zm9v", 8},  // data after the padding
      {"Zm9vYmE=\nZ", 9},
      {"Zm9vYg===", 8},
      {"Zm9vYmE==", 8},
      {"Zm9vYmFy=", 8},
      {"Zm-v", 2},  // URL alphabet is not standard
      {"Zm_v", 2},
      {"Zm9v\xffYmFy", 4},
      {"Zm9vYg==\xc3\xa9", 8},
  };
  for (const auto& [text, offset] : cases) {
    Result<std::string> got = Base64Decode(text);
    ASSERT_FALSE(got.ok()) << text;
    EXPECT_EQ(got.error().message, "illegal base64 data at input byte " + std::to_string(offset))
        << text;
  }
}

TEST(Base64Test, RoundTripAllLengths) {
  std::string data;
  for (int n = 0; n < 300; ++n) {
    ASSERT_EQ(Base64Decode(Base64Encode(data)).value(), data) << "length " << n;
    data += static_cast<char>(n * 37 + 11);
  }
}

}  // namespace
}  // namespace quorvane::encryptedparams
