#include "support/shipped_payload.h"

#include <algorithm>
#include <utility>

namespace quorvane::test {
namespace {

// xorshift64*: fast, and the same sequence on every machine.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9e3779b97f4a7c15ull + 1) {}
  uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545f4914f6cdd1dull;
  }
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }

 private:
  uint64_t state_;
};

std::string LicenseText(const std::string& name, size_t index) {
  std::string text = "Licence of the component " + name + "\n\n";
  Random random(1000 + index);
  size_t paragraphs = 4 + random.Below(40);
  for (size_t p = 0; p < paragraphs; ++p) {
    text +=
        "Permission is hereby granted, free of charge, to any person obtaining a copy of "
        "this software (paragraph " +
        std::to_string(p) +
        "), to deal in the Software "
        "without restriction, subject to the following conditions.\n\n";
  }
  return text;
}

}  // namespace

std::string CodeLikeBytes(size_t size, uint64_t seed) {
  Random random(seed);
  std::string out;
  out.reserve(size);
  while (out.size() < size) {
    size_t kind = random.Below(16);
    if (kind < 8 || out.size() < 4096) {  // fresh bytes
      size_t n = 8 + random.Below(56);
      for (size_t i = 0; i < n; ++i) out += static_cast<char>(random.Next() >> 56);
    } else if (kind < 15) {  // a copy of something nearby, like repeated code
      size_t n = 8 + random.Below(120);
      size_t from = out.size() - 1 - random.Below(std::min<size_t>(out.size() - 1, 32000));
      for (size_t i = 0; i < n; ++i) out += out[from + i];
    } else {  // alignment padding
      out.append(8 + random.Below(56), '\0');
    }
  }
  out.resize(size);
  return out;
}

std::string ExitingProgram(size_t size) {
  std::string program = "#!/bin/sh\nexit 0\n";
  if (size > program.size()) program += CodeLikeBytes(size - program.size(), 1);
  return program;
}

std::vector<std::string> ShippedLicenseNames() {
  std::vector<std::string> names = {
      "LICENSE.txt", "NOTICE.txt",     "abseil-cpp.txt",
      "boost.txt",   "brotli.txt",     "bzip2.txt",
      "c-ares.txt",  "curl.txt",       "expat.txt",
      "fmt.txt",     "go-runtime.txt", "googletest.txt",
      "icu.txt",     "jsoncpp.txt",    "libarchive.txt",
      "libcxx.txt",  "libffi.txt",     "libyaml.txt",
      "lz4.txt",     "mbedtls.txt",    "nghttp2.txt",
      "openssl.txt", "pcre2.txt",      "protobuf.txt",
      "re2.txt",     "sqlite.txt",     "xz.txt",
      "yara.txt",    "zlib.txt",       "golang.org-x-crypto-LICENSE-and-PATENTS.txt",
  };
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<ZipMember> ShippedLikeMembers(const std::string& program, size_t library_size) {
  std::string library =
      "\x7f"
      "ELF" +
      CodeLikeBytes(library_size - 4, 2);
  std::vector<ZipMember> members = {
      DirectoryMember("amd64/"),
      DirectoryMember("licenses/"),
      FileMember("amd64/quorvane.so", library),
      FileMember("amd64/quorvane", program),
      FileMember("amd64/checksums.txt",
                 ChecksumListText({{"quorvane.so", library}, {"quorvane", program}})),
  };
  std::vector<std::pair<std::string, std::string>> texts;
  std::vector<std::string> names = ShippedLicenseNames();
  for (size_t i = 0; i < names.size(); ++i) texts.emplace_back(names[i], LicenseText(names[i], i));
  std::vector<ZipMember> licenses;
  for (const auto& [name, text] : texts) licenses.push_back(FileMember("licenses/" + name, text));
  licenses.push_back(FileMember("licenses/checksums.txt", ChecksumListText(texts)));
  std::sort(licenses.begin(), licenses.end(),
            [](const ZipMember& a, const ZipMember& b) { return a.name < b.name; });
  members.insert(members.end(), licenses.begin(), licenses.end());
  return members;
}

}  // namespace quorvane::test
