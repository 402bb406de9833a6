// The options carried by an encrypted parameter record on the command line.
#ifndef QUORVANE_INSTALLER_OPTIONS_ENCRYPTED_OPTIONS_H_
#define QUORVANE_INSTALLER_OPTIONS_ENCRYPTED_OPTIONS_H_

#include <string>

#include "common/error.h"
#include "installer/options/parameters.h"

namespace quorvane {

// Runs when record.EncryptedParamsValue is not empty: decodes and decrypts
// the record, parses its words as a second command line (under lenient),
// merges them over record and stores the re-encrypted record, its directory
// values re-quoted, in record.EncryptedParamsValue. Only a top-level command
// line may carry a record. program_path is the first word of the command line.
Status RunEncryptedParamsStep(Parameters& record, const std::string& program_path, bool top_level,
                              bool lenient);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_OPTIONS_ENCRYPTED_OPTIONS_H_
