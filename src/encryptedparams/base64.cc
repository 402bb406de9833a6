#include "encryptedparams/base64.h"

#include <array>
#include <cstdint>

namespace quorvane::encryptedparams {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr uint8_t kInvalid = 0xFF;

constexpr std::array<uint8_t, 256> MakeDecodeMap() {
  std::array<uint8_t, 256> map{};
  for (auto& v : map) v = kInvalid;
  for (int i = 0; i < 64; ++i) map[static_cast<unsigned char>(kAlphabet[i])] = i;
  return map;
}
constexpr std::array<uint8_t, 256> kDecodeMap = MakeDecodeMap();

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

Error CorruptInput(size_t offset) {
  return Error("illegal base64 data at input byte " + std::to_string(offset));
}

size_t SkipLineBreaks(std::string_view s, size_t i) {
  while (i < s.size() && IsLineBreak(s[i])) ++i;
  return i;
}

// Decodes the group of four that starts at *pos (line breaks skipped),
// appending its bytes to out and advancing *pos. Sets *done after the
// padded, final group.
Status DecodeQuantum(std::string_view src, size_t* pos, std::string& out, bool* done) {
  uint8_t sextets[4] = {0, 0, 0, 0};
  size_t si = *pos;
  size_t have = 4;  // sextets in this group
  for (size_t j = 0; j < 4; ++j) {
    if (si == src.size()) {
      if (j == 0) {
        *done = true;
        *pos = si;
        return Status::Ok();
      }
      // The text ends inside a group; padding was required.
      return CorruptInput(si - j);
    }
    const char in = src[si++];
    const uint8_t v = kDecodeMap[static_cast<unsigned char>(in)];
    if (v != kInvalid) {
      sextets[j] = v;
      continue;
    }
    if (IsLineBreak(in)) {
      --j;
      continue;
    }
    if (in != kPad || j < 2) return CorruptInput(si - 1);
    if (j == 2) {
      // The first "=" of "==": the second one must follow.
      si = SkipLineBreaks(src, si);
      if (si == src.size()) return CorruptInput(src.size());
      if (src[si] != kPad) return CorruptInput(si - 1);
      ++si;
    }
    // Only line breaks may follow the padding.
    si = SkipLineBreaks(src, si);
    if (si < src.size()) return CorruptInput(si);
    have = j;
    *done = true;
    break;
  }
  const uint32_t val = uint32_t{sextets[0]} << 18 | uint32_t{sextets[1]} << 12 |
                       uint32_t{sextets[2]} << 6 | uint32_t{sextets[3]};
  out += static_cast<char>(val >> 16);
  if (have >= 3) out += static_cast<char>(val >> 8);
  if (have == 4) out += static_cast<char>(val);
  *pos = si;
  return Status::Ok();
}

}  // namespace

std::string Base64Encode(std::string_view data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(data[i])); };
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const uint32_t val = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    out += kAlphabet[val >> 18 & 0x3F];
    out += kAlphabet[val >> 12 & 0x3F];
    out += kAlphabet[val >> 6 & 0x3F];
    out += kAlphabet[val & 0x3F];
  }
  const size_t rest = data.size() - i;
  if (rest == 0) return out;
  uint32_t val = byte(i) << 16;
  if (rest == 2) val |= byte(i + 1) << 8;
  out += kAlphabet[val >> 18 & 0x3F];
  out += kAlphabet[val >> 12 & 0x3F];
  out += rest == 2 ? kAlphabet[val >> 6 & 0x3F] : kPad;
  out += kPad;
  return out;
}

Result<std::string> Base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  size_t pos = 0;
  bool done = false;
  while (!done && pos < text.size()) {
    Status s = DecodeQuantum(text, &pos, out, &done);
    if (!s.ok()) return s.error();
  }
  return out;
}

}  // namespace quorvane::encryptedparams
