#include "support/zip_patch.h"

#include <stdexcept>

namespace quorvane::test {
namespace {

uint32_t Get(const std::string& s, size_t at, int width) {
  if (at + width > s.size()) throw std::runtime_error("zip patch: read past the archive");
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
  return v;
}

void Put(std::string& s, size_t at, int width, uint32_t v) {
  if (at + width > s.size()) throw std::runtime_error("zip patch: write past the archive");
  for (int i = 0; i < width; ++i, v >>= 8) s[at + i] = static_cast<char>(v & 0xff);
}

struct FieldPlace {
  size_t local;    // offset in the local header
  size_t central;  // offset in the central directory entry
  int width;
};

FieldPlace PlaceOf(ZipField field) {
  switch (field) {
    case ZipField::kFlags:
      return {6, 8, 2};
    case ZipField::kMethod:
      return {8, 10, 2};
    case ZipField::kCrc:
      return {14, 16, 4};
    case ZipField::kCompressedSize:
      return {18, 20, 4};
    case ZipField::kSize:
      return {22, 24, 4};
  }
  throw std::runtime_error("zip patch: unknown field");
}

size_t EndRecord(const std::string& s) {
  size_t at = s.rfind(std::string("PK\x05\x06", 4));
  if (at == std::string::npos) throw std::runtime_error("zip patch: no end record");
  return at;
}

FieldPlace EndPlaceOf(ZipEndField field) {
  switch (field) {
    case ZipEndField::kDiskEntries:
      return {0, 8, 2};
    case ZipEndField::kEntries:
      return {0, 10, 2};
    case ZipEndField::kDirectorySize:
      return {0, 12, 4};
    case ZipEndField::kDirectoryOffset:
      return {0, 16, 4};
  }
  throw std::runtime_error("zip patch: unknown end record field");
}

}  // namespace

ZipHeaderOffsets FindMemberHeaders(const std::string& archive, const std::string& name) {
  size_t end = EndRecord(archive);
  uint32_t count = Get(archive, end + 10, 2);
  size_t at = Get(archive, end + 16, 4);
  for (uint32_t i = 0; i < count; ++i) {
    if (Get(archive, at, 4) != 0x02014b50) throw std::runtime_error("zip patch: bad directory");
    size_t name_length = Get(archive, at + 28, 2);
    size_t total = 46 + name_length + Get(archive, at + 30, 2) + Get(archive, at + 32, 2);
    if (archive.compare(at + 46, name_length, name) == 0 && name_length == name.size()) {
      return {at, Get(archive, at + 42, 4)};
    }
    at += total;
  }
  throw std::runtime_error("zip patch: no member " + name);
}

uint32_t GetZipField(const std::string& archive, const std::string& name, ZipField field) {
  FieldPlace place = PlaceOf(field);
  return Get(archive, FindMemberHeaders(archive, name).central + place.central, place.width);
}

void SetZipField(std::string& archive, const std::string& name, ZipField field, uint32_t value,
                 ZipHeader where) {
  ZipHeaderOffsets h = FindMemberHeaders(archive, name);
  FieldPlace place = PlaceOf(field);
  if (where != ZipHeader::kCentral) Put(archive, h.local + place.local, place.width, value);
  if (where != ZipHeader::kLocal) Put(archive, h.central + place.central, place.width, value);
}

void SetLocalSignature(std::string& archive, const std::string& name, uint32_t signature) {
  Put(archive, FindMemberHeaders(archive, name).local, 4, signature);
}

void SetMadeByHost(std::string& archive, const std::string& name, uint8_t host) {
  Put(archive, FindMemberHeaders(archive, name).central + 5, 1, host);
}

void SetExternalAttributes(std::string& archive, const std::string& name, uint32_t attributes) {
  Put(archive, FindMemberHeaders(archive, name).central + 38, 4, attributes);
}

void RenameMember(std::string& archive, const std::string& name, const std::string& new_name) {
  if (new_name.size() != name.size()) throw std::runtime_error("zip patch: names differ in length");
  ZipHeaderOffsets h = FindMemberHeaders(archive, name);
  if (Get(archive, h.local + 26, 2) != name.size()) {
    throw std::runtime_error("zip patch: local name differs");
  }
  archive.replace(h.central + 46, name.size(), new_name);
  archive.replace(h.local + 30, name.size(), new_name);
}

uint32_t GetZipEndField(const std::string& archive, ZipEndField field) {
  FieldPlace place = EndPlaceOf(field);
  return Get(archive, EndRecord(archive) + place.central, place.width);
}

void SetZipEndField(std::string& archive, ZipEndField field, uint32_t value) {
  FieldPlace place = EndPlaceOf(field);
  Put(archive, EndRecord(archive) + place.central, place.width, value);
}

size_t MemberDataOffset(const std::string& archive, const std::string& name) {
  size_t local = FindMemberHeaders(archive, name).local;
  return local + 30 + Get(archive, local + 26, 2) + Get(archive, local + 28, 2);
}

}  // namespace quorvane::test
