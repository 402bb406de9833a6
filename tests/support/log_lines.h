// The lines tests compare installer logs with: the type of a list of lines
// and the lines that every run of a given kind writes.
#ifndef QUORVANE_TESTS_SUPPORT_LOG_LINES_H_
#define QUORVANE_TESTS_SUPPORT_LOG_LINES_H_

#include <string>
#include <vector>

namespace quorvane::test {

// Lines of a log or of an output, time stamps removed.
using Lines = std::vector<std::string>;

// The last line of a log with text, written by every run that ends.
inline const std::string kClosing = "[INFO ] End, success.";

// How every finished log ends: the closing line and three empty lines.
inline const Lines kClosingLines = {kClosing, "", "", ""};

// The first line of the install directory's deletion, followed by its path.
inline const std::string kCleanupStart = "[INFO ] Delete temporary installer directory: ";

}  // namespace quorvane::test

#endif  // QUORVANE_TESTS_SUPPORT_LOG_LINES_H_
