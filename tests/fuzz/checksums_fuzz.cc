// The checksum-list parser, fed in pieces of varying size: never crashes;
// every entry it returns has a 64-byte digest field and a name without
// line breaks; the result does not depend on how the reads are cut.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "installer/archive/checksums.h"

namespace {

using namespace quorvane;
using quorvane::fuzz::Check;

// Hands out data in reads of at most `piece` bytes.
class PieceSource : public ByteSource {
 public:
  PieceSource(std::string_view data, size_t piece) : data_(data), piece_(piece) {}
  Result<size_t> Read(char* buf, size_t n) override {
    size_t k = std::min({n, piece_, data_.size()});
    std::copy_n(data_.data(), k, buf);
    data_.remove_prefix(k);
    return k;
  }

 private:
  std::string_view data_;
  size_t piece_;
};

bool SameLists(const Result<ChecksumList>& a, const Result<ChecksumList>& b) {
  if (a.ok() != b.ok()) return false;
  if (!a.ok()) return a.error().message == b.error().message;
  if (a->size() != b->size()) return false;
  for (size_t i = 0; i < a->size(); ++i) {
    if ((*a)[i].FileName != (*b)[i].FileName || (*a)[i].FileSha256 != (*b)[i].FileSha256) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  PieceSource whole(input, 1 << 20);
  Result<ChecksumList> list = parseChecksumsFile(whole);
  if (list.ok()) {
    for (const FileChecksum& e : *list) {
      Check(e.FileSha256.size() == 64, "digest field length");
      Check(!e.FileName.empty(), "empty name");
      Check(e.FileName.find('\n') == std::string::npos, "name holds a line feed");
      Check(!e.Validated, "fresh entry marked validated");
    }
  } else {
    Check(list.error().message.starts_with("invalid line: "), "unexpected error",
          list.error().message);
  }
  const size_t piece = size == 0 ? 1 : 1 + data[0] % 17;
  PieceSource cut(input, piece);
  Check(SameLists(list, parseChecksumsFile(cut)), "result depends on read sizes");
  return 0;
}
