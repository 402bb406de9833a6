#ifndef QUORVANE_ENCRYPTEDPARAMS_ERRORS_H_
#define QUORVANE_ENCRYPTEDPARAMS_ERRORS_H_

#include "common/error.h"

namespace quorvane::encryptedparams {

// The record names a cipher that this build does not have: "unsupported
// type". One value, shared by every call.
const Error& errUnsupportedType();

}  // namespace quorvane::encryptedparams

#endif  // QUORVANE_ENCRYPTEDPARAMS_ERRORS_H_
