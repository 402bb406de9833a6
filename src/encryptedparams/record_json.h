// The JSON form of the encrypted parameter record.
#ifndef QUORVANE_ENCRYPTEDPARAMS_RECORD_JSON_H_
#define QUORVANE_ENCRYPTEDPARAMS_RECORD_JSON_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.h"

namespace quorvane::encryptedparams {

// The members of the record's JSON object, as text and number.
struct RecordFields {
  uint64_t Version = 0;         // "ver"
  std::string CryptType;        // "type"
  std::string Data;             // "data"
  std::string OptionalEntropy;  // "entropy"
};

// Decodes one JSON value into *record, whose fields keep their values where
// the text gives none. Members "ver", "type", "data" and "entropy" are
// matched exactly, then regardless of ASCII letter case; the last
// occurrence wins; null leaves a field unchanged; other members are
// ignored. A top-level null is the empty record.
Status DecodeRecordJSON(std::string_view json, RecordFields* record);

// Appends s as a JSON string: quotes, backslash and control characters
// escaped, and "<", ">", "&", U+2028 and U+2029 as \u escapes.
void AppendJSONString(std::string& out, std::string_view s);

}  // namespace quorvane::encryptedparams

#endif  // QUORVANE_ENCRYPTEDPARAMS_RECORD_JSON_H_
