#include "encryptedparams/record_json.h"

#include <cstdint>
#include <nlohmann/json.hpp>

#include "common/utf8.h"

namespace quorvane::encryptedparams {

namespace {

using nlohmann::json;

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNumberChar(char c) {
  return IsDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
}

// The code unit of a "\uXXXX" escape at s[i], or -1.
int32_t EscapeAt(std::string_view s, size_t i) {
  if (i + 6 > s.size() || s[i] != '\\' || s[i + 1] != 'u') return -1;
  int32_t v = 0;
  for (size_t k = i + 2; k < i + 6; ++k) {
    if (!IsHex(s[k])) return -1;
    const char c = s[k];
    v = v * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return v;
}

bool IsHighSurrogate(int32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(int32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The end of the JSON number that starts at s[i], or i when none does.
// Sets *plain when it is an integer of at most 20 digits.
size_t ScanNumber(std::string_view s, size_t i, bool* plain) {
  size_t k = i;
  if (k < s.size() && s[k] == '-') ++k;
  const size_t digits = k;
  if (k < s.size() && s[k] == '0') {
    ++k;
  } else {
    while (k < s.size() && IsDigit(s[k])) ++k;
  }
  if (k == digits) return i;
  *plain = k - digits <= 20;
  if (k + 1 < s.size() && s[k] == '.' && IsDigit(s[k + 1])) {
    k += 2;
    while (k < s.size() && IsDigit(s[k])) ++k;
    *plain = false;
  }
  if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
    size_t e = k + 1;
    if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
    if (e < s.size() && IsDigit(s[e])) {
      k = e;
      while (k < s.size() && IsDigit(s[k])) ++k;
      *plain = false;
    }
  }
  return k;
}

size_t ScanNumberEnd(std::string_view s, size_t i) {
  bool plain;
  return ScanNumber(s, i, &plain);
}

// Copies the number at s[i] (there is one) and returns the index after
// it. Every number other than a short integer becomes 0.0, which stays a
// number that "ver" refuses and that no double overflows. A number that runs
// on into more number characters is refused anyway and is kept: rewriting
// it could make it valid ("1e5e5" to "0.0e5").
size_t AppendNumber(std::string_view s, size_t i, std::string& out) {
  bool plain = true;
  const size_t end = ScanNumber(s, i, &plain);
  const bool runs_on = end < s.size() && IsNumberChar(s[end]);
  out.append(plain || runs_on ? s.substr(i, end - i) : std::string_view("0.0"));
  return end;
}

// Copies the escape at s[i] (a backslash) and returns the index after it;
// an unpaired surrogate escape becomes \ufffd.
size_t AppendEscape(std::string_view s, size_t i, std::string& out) {
  const int32_t u = EscapeAt(s, i);
  size_t n = 6;
  if (u < 0) {
    n = 2;  // another escape; the parser judges it
  } else if (IsHighSurrogate(u) && IsLowSurrogate(EscapeAt(s, i + 6))) {
    n = 12;
  } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
    out.append("\\ufffd");
    return i + 6;
  }
  out.append(s.substr(i, n));
  return i + n;
}

// Copies the character at s[i] inside a string; an invalid byte becomes
// U+FFFD.
size_t AppendStringChar(std::string_view s, size_t i, std::string& out) {
  size_t width;
  const char32_t r = DecodeRune(s, i, &width);
  if (r == kReplacementChar && width == 1) {
    AppendRune(out, kReplacementChar);
  } else {
    out.append(s.substr(i, width));
  }
  return i + width;
}

// The JSON parser refuses three inputs that a record may hold: invalid
// UTF-8 bytes and unpaired surrogate escapes inside strings (each read as
// U+FFFD), and numbers too large for a double in members that are ignored.
// This rewrites them into forms that decode the same way.
std::string Normalize(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  bool in_string = false;
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (!in_string && (c == '-' || IsDigit(c)) && ScanNumberEnd(s, i) > i) {
      i = AppendNumber(s, i, out);
    } else if (!in_string || c == '"') {
      if (c == '"') in_string = !in_string;
      out += c;
      ++i;
    } else if (c == '\\') {
      i = AppendEscape(s, i, out);
    } else {
      i = AppendStringChar(s, i, out);
    }
  }
  return out;
}

bool EqualFoldAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

enum class Field { kNone, kVer, kType, kData, kEntropy };

constexpr std::string_view kFieldNames[] = {"", "ver", "type", "data", "entropy"};

Field MatchField(std::string_view key) {
  for (int f = 1; f <= 4; ++f) {
    if (key == kFieldNames[f]) return static_cast<Field>(f);
  }
  for (int f = 1; f <= 4; ++f) {
    if (EqualFoldAscii(key, kFieldNames[f])) return static_cast<Field>(f);
  }
  return Field::kNone;
}

// Receives the parser's events in document order and fills the record.
class RecordReader final : public nlohmann::json_sax<json> {
 public:
  explicit RecordReader(RecordFields* record) : record_(record) {}

  const Error& error() const { return error_; }

  // null leaves a field unchanged; a top-level null is the empty record.
  bool null() override { return true; }
  bool boolean(bool) override { return Scalar("bool"); }
  bool number_integer(number_integer_t) override { return Scalar("number"); }
  bool number_unsigned(number_unsigned_t v) override {
    if (depth_ == 1 && field_ == Field::kVer) {
      record_->Version = v;
      return true;
    }
    return Scalar("number");
  }
  bool number_float(number_float_t, const string_t&) override { return Scalar("number"); }
  bool string(string_t& s) override {
    if (depth_ == 1) {
      switch (field_) {
        case Field::kType:
          record_->CryptType = std::move(s);
          return true;
        case Field::kData:
          record_->Data = std::move(s);
          return true;
        case Field::kEntropy:
          record_->OptionalEntropy = std::move(s);
          return true;
        default:
          break;
      }
    }
    return Scalar("string");
  }
  bool binary(binary_t&) override { return Scalar("binary"); }
  bool start_object(std::size_t) override { return Open("object"); }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open("array"); }
  bool end_array() override { return Close(); }
  bool key(string_t& k) override {
    if (depth_ == 1) field_ = MatchField(k);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error_ = Error("invalid JSON: " + CleanParserMessage(e.what()));
    return false;
  }

 private:
  // A value that is not a known member's: allowed only inside ignored members.
  bool Scalar(const char* kind) {
    if (depth_ > 1 || (depth_ == 1 && field_ == Field::kNone)) return true;
    return TypeError(kind);
  }

  bool Open(const char* kind) {
    if (depth_ == 0 && std::string_view(kind) == "array") return TypeError(kind);
    if (depth_ == 1 && field_ != Field::kNone) return TypeError(kind);
    ++depth_;
    return true;
  }

  bool Close() {
    --depth_;
    if (depth_ == 1) field_ = Field::kNone;
    return true;
  }

  bool TypeError(const char* kind) {
    if (depth_ == 0) {
      error_ = Error(std::string("json: cannot unmarshal ") + kind + " into the record");
      return false;
    }
    const bool ver = field_ == Field::kVer;
    error_ = Error(std::string("json: cannot unmarshal ") + kind + " into record field \"" +
                   std::string(kFieldNames[static_cast<int>(field_)]) + "\" of type " +
                   (ver ? "uint64" : "string"));
    return false;
  }

  // The parser's text without its exception tag and without the token it
  // last read, which may be a piece of the key.
  static std::string CleanParserMessage(std::string text) {
    const size_t tag = text.find("] ");
    if (text.starts_with("[json.exception.") && tag != std::string::npos) text.erase(0, tag + 2);
    const size_t last = text.find("; last read");
    if (last != std::string::npos) text.erase(last);
    return text;
  }

  RecordFields* record_;
  int depth_ = 0;
  Field field_ = Field::kNone;
  Error error_;
};

}  // namespace

Status DecodeRecordJSON(std::string_view text, RecordFields* record) {
  // The parser would skip a byte order mark; a JSON text may not hold one.
  if (text.starts_with("\xEF\xBB\xBF")) {
    return Error("invalid JSON: byte order mark at the start of the text");
  }
  const std::string normalized = Normalize(text);
  RecordReader reader(record);
  if (!json::sax_parse(normalized, &reader, json::input_format_t::json, true, false)) {
    return reader.error();
  }
  return Status::Ok();
}

void AppendJSONString(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (size_t i = 0, width = 0; i < s.size(); i += width) {
    const char32_t r = DecodeRune(s, i, &width);
    const auto u = [&](uint32_t code) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[code >> shift & 0xF];
    };
    switch (r) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '<':
      case '>':
      case '&':
      case 0x2028:
      case 0x2029:
        u(r);
        break;
      default:
        if (r < 0x20) {
          u(r);
        } else if (r == kReplacementChar && width == 1) {
          u(r);  // an invalid byte: keep the text valid JSON
        } else {
          out.append(s.substr(i, width));
        }
    }
  }
  out += '"';
}

}  // namespace quorvane::encryptedparams
