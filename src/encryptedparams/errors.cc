#include "encryptedparams/errors.h"

namespace quorvane::encryptedparams {

Error errUnsupportedType() { return Error("unsupported type"); }

}  // namespace quorvane::encryptedparams
