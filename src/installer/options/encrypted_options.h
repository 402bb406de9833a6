// installer/options/: the command line as the installer reads it. The
// option syntax (option_parse), the parameters record (parameters), the
// parse of a command line into that record with its directory values
// examined (parse_parameters), and the encrypted record on the command line,
// merged over it and encrypted again for the payload (encrypted_options),
// which is handed the parse it needs and calls nothing above it.
//
// The options carried by an encrypted parameter record on the command line:
// decrypted, merged over the command line's and encrypted again for the
// payload.
#ifndef QUORVANE_INSTALLER_OPTIONS_ENCRYPTED_OPTIONS_H_
#define QUORVANE_INSTALLER_OPTIONS_ENCRYPTED_OPTIONS_H_

#include <functional>
#include <string>
#include <vector>

#include "common/error.h"
#include "installer/options/parameters.h"

namespace quorvane {

// Parses the words of a record as a command line: program path first.
using WordsParse = std::function<Result<Parameters>(const std::vector<std::string>& args)>;

// For a non-empty record.EncryptedParamsValue: decodes and decrypts the
// record, parses its words with parse_words as a second command line,
// merges them over record and stores the re-encrypted record, its directory
// values re-quoted, in record.EncryptedParamsValue. Only a top-level command
// line may carry a record. program_path is the first word of the command line.
Status ApplyEncryptedParams(Parameters& record, const std::string& program_path, bool top_level,
                            const WordsParse& parse_words);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_OPTIONS_ENCRYPTED_OPTIONS_H_
