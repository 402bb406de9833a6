// The Base64 decoder: never crashes; a decoded text encodes to a text that
// decodes to the same bytes; the encoder's output always decodes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "encryptedparams/base64.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvane::encryptedparams;
  using quorvane::fuzz::Check;
  std::string input(reinterpret_cast<const char*>(data), size);

  auto decoded = Base64Decode(input);
  if (decoded.ok()) {
    Check(decoded->size() <= input.size() * 3 / 4, "decoded text longer than possible");
    auto again = Base64Decode(Base64Encode(*decoded));
    Check(again.ok() && *again == *decoded, "encode(decode(x)) decodes differently", input);
  } else {
    Check(decoded.error().message.starts_with("illegal base64 data at input byte "),
          "unexpected error", decoded.error().message);
  }

  std::string encoded = Base64Encode(input);
  Check(encoded.size() == (input.size() + 2) / 3 * 4, "encoded length");
  auto back = Base64Decode(encoded);
  Check(back.ok() && *back == input, "decode(encode(x)) != x");
  return 0;
}
