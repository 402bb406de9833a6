#include "encryptedparams/errors.h"

namespace quorvane::encryptedparams {

const Error& errUnsupportedType() {
  static const Error kError("unsupported type");
  return kError;
}

}  // namespace quorvane::encryptedparams
