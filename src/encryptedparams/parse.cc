#include "encryptedparams/parse.h"

#include <algorithm>
#include <array>

#include "common/utf8.h"

namespace quorvane::encryptedparams {

namespace {

constexpr std::array<char32_t, 30> kQuotationMarks = {
    0x0022, 0x0027, 0x00AB, 0x00BB, 0x2018, 0x2019, 0x201A, 0x201B, 0x201C, 0x201D,
    0x201E, 0x201F, 0x2039, 0x203A, 0x2E42, 0x300C, 0x300D, 0x300E, 0x300F, 0x301D,
    0x301E, 0x301F, 0xFE41, 0xFE42, 0xFE43, 0xFE44, 0xFF02, 0xFF07, 0xFF62, 0xFF63,
};

bool IsSpace(char32_t c) {
  switch (c) {
    case 0x0020:
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return (c >= 0x0009 && c <= 0x000D) || (c >= 0x2000 && c <= 0x200A);
  }
}

enum class State {
  kBetween,
  kWord,
  kSingleQuoted,
  kDoubleQuoted,
  kEscaped,
  kEscapedInDoubleQuotes,
};

std::u32string Decode(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0, width = 0; i < text.size(); i += width) {
    out += DecodeRune(text, i, &width);
  }
  return out;
}

std::string Encode(std::u32string_view s) {
  std::string out;
  for (char32_t c : s) AppendRune(out, c);
  return out;
}

// Splits into words; an empty word (only empty quotes) is dropped.
Result<std::vector<std::u32string>> Split(std::u32string_view text) {
  std::vector<std::u32string> words;
  std::u32string word;
  State state = State::kBetween;
  auto end_word = [&] {
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
    state = State::kBetween;
  };
  for (char32_t c : text) {
    switch (state) {
      case State::kBetween:
      case State::kWord:
        if (IsSpace(c)) {
          if (state == State::kWord) end_word();
        } else if (c == '\'') {
          state = State::kSingleQuoted;
        } else if (c == '"') {
          state = State::kDoubleQuoted;
        } else if (c == '\\') {
          state = State::kEscaped;
        } else {
          word += c;
          state = State::kWord;
        }
        break;
      case State::kSingleQuoted:
        if (c == '\'') {
          state = State::kWord;
        } else {
          word += c;
        }
        break;
      case State::kDoubleQuoted:
        if (c == '"') {
          state = State::kWord;
        } else if (c == '\\') {
          state = State::kEscapedInDoubleQuotes;
        } else {
          word += c;
        }
        break;
      case State::kEscaped:
        word += c;
        state = State::kWord;
        break;
      case State::kEscapedInDoubleQuotes:
        if (c != '"' && c != '\\') word += '\\';
        word += c;
        state = State::kDoubleQuoted;
        break;
    }
  }
  switch (state) {
    case State::kSingleQuoted:
    case State::kDoubleQuoted:
      return Error("No closing quotation");
    case State::kEscaped:
    case State::kEscapedInDoubleQuotes:
      return Error("No escaped character");
    case State::kWord:
      end_word();
      break;
    case State::kBetween:
      break;
  }
  return words;
}

std::u32string_view TrimQuotationMarks(std::u32string_view w) {
  while (!w.empty() && isQuotationMark(w.front())) w.remove_prefix(1);
  while (!w.empty() && isQuotationMark(w.back())) w.remove_suffix(1);
  return w;
}

}  // namespace

bool isQuotationMark(char32_t c) {
  return std::find(kQuotationMarks.begin(), kQuotationMarks.end(), c) != kQuotationMarks.end();
}

Result<std::vector<std::string>> Parse(std::string_view text) {
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  Result<std::vector<std::u32string>> split = Split(Decode(text));
  if (!split.ok()) return split.error();
  std::vector<std::string> words;
  words.reserve(split->size());
  for (const std::u32string& w : *split) words.push_back(Encode(TrimQuotationMarks(w)));
  return words;
}

}  // namespace quorvane::encryptedparams
