// The payload section lookup on an arbitrary file: never crashes nor reads
// outside the file; what it returns is a byte range of the file.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "installer/archive/payload_section.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using quorvane::fuzz::Check;
  static const std::string path = quorvane::fuzz::ScratchFor("elf_section") + "/installer";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) quorvane::fuzz::Die("open", path);
  Check(write(fd, data, size) == static_cast<ssize_t>(size), "short write");
  close(fd);

  quorvane::Result<std::string> payload = quorvane::getPayloadData(path);
  if (payload.ok()) {
    std::string_view file(reinterpret_cast<const char*>(data), size);
    Check(payload->size() <= size, "section larger than the file");
    Check(payload->empty() || file.find(*payload) != std::string_view::npos,
          "section bytes are not bytes of the file");
  }
  return 0;
}
