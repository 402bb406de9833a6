// Payloads shaped like the one the product ships: the library, a large
// executable, the architecture's list, and thirty licence texts with their
// list among them in byte order.
#ifndef QUORVANE_TESTS_SUPPORT_SHIPPED_PAYLOAD_H_
#define QUORVANE_TESTS_SUPPORT_SHIPPED_PAYLOAD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/payload_fixture.h"

namespace quorvane::test {

// Sizes of the shipped library and executable.
inline constexpr size_t kShippedLibrarySize = 97088;
inline constexpr size_t kShippedExecutableSize = 15451640;

// size bytes that compress about as well as machine code: runs of random
// bytes mixed with copies of earlier output and short zero runs. Equal
// arguments give equal bytes.
std::string CodeLikeBytes(size_t size, uint64_t seed);

// The payload executable: a shell script that ends at once with status 0,
// padded with code-like bytes to size (the shell never reads past "exit").
std::string ExitingProgram(size_t size);

// The thirty licence base names, in byte order.
std::vector<std::string> ShippedLicenseNames();

// The members in the shipped order: "amd64/", "licenses/",
// "amd64/quorvane.so", "amd64/quorvane" (program), "amd64/checksums.txt",
// then the licence texts and "licenses/checksums.txt" in byte order. All
// files DEFLATE, Unix mode 0666; the directories stored.
std::vector<ZipMember> ShippedLikeMembers(const std::string& program,
                                          size_t library_size = kShippedLibrarySize);

}  // namespace quorvane::test

#endif  // QUORVANE_TESTS_SUPPORT_SHIPPED_PAYLOAD_H_
