// Lexical path operations shared by every part of the installer.
#ifndef QUORVANE_COMMON_PATH_H_
#define QUORVANE_COMMON_PATH_H_

#include <initializer_list>
#include <string>
#include <string_view>

namespace quorvane {

// Lexical cleaning: one "/" between elements, no "." elements, ".." resolved in
// the text, no final "/" but for the root; "" becomes ".".
std::string CleanPath(std::string_view path);

// The non-empty parts joined with "/" and cleaned; "" when every part is empty.
std::string JoinPath(std::initializer_list<std::string_view> parts);
inline std::string JoinPath(std::string_view a, std::string_view b) { return JoinPath({a, b}); }

bool IsAbsolutePath(std::string_view path);

// Everything up to the last "/", cleaned; "." without a "/".
std::string DirPart(std::string_view path);

// The element after the last "/" once trailing "/" are removed; "." for "",
// "/" for a path of slashes only.
std::string BaseName(std::string_view path);

}  // namespace quorvane

#endif  // QUORVANE_COMMON_PATH_H_
