// The word split of a decrypted parameter text: never crashes, and a text
// made of the words it gave, each in double quotes with '"' and '\' escaped,
// splits into the same words again (less the empty ones, which only the
// trimming of quotation marks makes and which quoting cannot carry).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "encryptedparams/parse.h"
#include "fuzz_support.h"

namespace {

using quorvane::fuzz::Check;

std::string Quoted(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& w : words) {
    if (!text.empty()) text += ' ';
    text += '"';
    for (char c : w) {
      if (c == '"' || c == '\\') text += '\\';
      text += c;
    }
    text += '"';
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvane::encryptedparams;
  std::string text(reinterpret_cast<const char*>(data), size);
  auto words = Parse(text);
  if (!words.ok()) {
    const std::string& e = words.error().message;
    Check(e == "No closing quotation" || e == "No escaped character", "unexpected error", e);
    return 0;
  }
  std::vector<std::string> kept;
  for (const std::string& w : *words) {
    if (!w.empty()) kept.push_back(w);
  }
  auto again = Parse(Quoted(kept));
  Check(again.ok() && *again == kept, "quoted words split differently", Quoted(kept));
  return 0;
}
