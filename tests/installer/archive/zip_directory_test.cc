// The central directory as the reader takes it from the end record.
#include "installer/archive/zip_directory.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/payload_fixture.h"
#include "support/zip_patch.h"

namespace quorvane {
namespace {

using test::ZipEndField;
using test::ZipMember;

uint32_t Field(const std::string& a, ZipEndField f) { return test::GetZipEndField(a, f); }

void Set(std::string& a, ZipEndField f, uint32_t v) { test::SetZipEndField(a, f, v); }

void SetCount(std::string& a, uint32_t count) {
  Set(a, ZipEndField::kDiskEntries, count);
  Set(a, ZipEndField::kEntries, count);
}

// An extra field: its id, its claimed length, then the bytes it really has.
std::string Extra(uint16_t id, uint16_t length, const std::string& data) {
  std::string out;
  for (uint16_t v : {id, length}) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>(v >> 8);
  }
  return out + data;
}

// The directory must agree with the end record in its count of entries and
// its size, and end where the end record begins; of the extra fields only
// the ZIP64 field can make it unreadable. `entries` is the count read, or -1
// for "zip: not a valid zip file".
TEST(ReadCentralDirectory, DirectoryAgreesWithTheEndRecord) {
  struct Row {
    const char* what;
    std::function<void(std::vector<ZipMember>&)> edit;
    std::function<void(std::string&)> patch;
    int entries;
  };
  auto none = [](std::vector<ZipMember>&) {};
  auto same = [](std::string&) {};
  const std::vector<Row> rows = {
      {"as written", none, same, 3},
      {"one entry more than counted", none, [](std::string& a) { SetCount(a, 2); }, -1},
      {"one entry fewer than counted", none, [](std::string& a) { SetCount(a, 4); }, -1},
      {"no entry counted", none, [](std::string& a) { SetCount(a, 0); }, -1},
      {"count of entries on this disk differs", none,
       [](std::string& a) { Set(a, ZipEndField::kDiskEntries, 9); }, 3},
      {"size one byte larger", none,
       [](std::string& a) {
         Set(a, ZipEndField::kDirectorySize, Field(a, ZipEndField::kDirectorySize) + 1);
       },
       -1},
      {"size one byte smaller", none,
       [](std::string& a) {
         Set(a, ZipEndField::kDirectorySize, Field(a, ZipEndField::kDirectorySize) - 1);
       },
       -1},
      {"count and size of the first two entries only", none,
       [](std::string& a) {
         size_t third = test::FindMemberHeaders(a, "c").central;
         SetCount(a, 2);
         Set(a, ZipEndField::kDirectorySize,
             static_cast<uint32_t>(third - Field(a, ZipEndField::kDirectoryOffset)));
       },
       -1},
      {"extra field longer than its area",
       [](std::vector<ZipMember>& m) {
         m[1].extra = Extra(0x5455, 40, std::string("\x01\0\0\0\0", 5));
       },
       same, 3},
      {"ZIP64 field too short for a saturated size",
       [](std::vector<ZipMember>& m) { m[1].extra = Extra(0x0001, 4, std::string(4, '\0')); },
       [](std::string& a) {
         size_t central = test::FindMemberHeaders(a, "b").central;
         for (int i = 0; i < 4; ++i) a[central + 24 + i] = '\xff';
       },
       -1},
      {"ZIP64 field after a field longer than its area is not read",
       [](std::vector<ZipMember>& m) {
         m[1].extra = Extra(0x5455, 40, "") + Extra(0x0001, 4, std::string(4, '\0'));
       },
       [](std::string& a) {
         size_t central = test::FindMemberHeaders(a, "b").central;
         for (int i = 0; i < 4; ++i) a[central + 24 + i] = '\xff';
       },
       3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<ZipMember> members = {test::FileMember("a", "first"),
                                      test::FileMember("b", "second"),
                                      test::FileMember("c", "third")};
    row.edit(members);
    std::string archive = test::BuildZip(members);
    row.patch(archive);
    Result<std::vector<ZipEntry>> entries = ReadCentralDirectory(archive);
    if (row.entries < 0) {
      EXPECT_EQ(entries.ok() ? "accepted" : entries.error().message, kZipNotValid);
    } else if (entries.ok()) {
      EXPECT_EQ(entries->size(), static_cast<size_t>(row.entries));
    } else {
      ADD_FAILURE() << entries.error().message;
    }
  }
}

TEST(IsDirectoryMember, ByNameHostAndAttributes) {
  struct Case {
    std::string name;
    uint8_t host;
    uint32_t attributes;
    bool directory;
  };
  const Case cases[] = {
      {"a/", 99, 0, true},
      {"a", 3, 040755u << 16, true},
      {"a", 19, 040755u << 16, true},
      {"a", 3, (0100644u << 16) | 0x10, false},  // the DOS bit counts only for DOS hosts
      {"a", 0, 0x10, true},
      {"a", 11, 0x10, true},
      {"a", 14, 0x10, true},
      {"a", 0, 040755u << 16, false},
      {"a", 10, (040755u << 16) | 0x10, false},  // unknown host: the name decides
      {"a", 3, 0120777u << 16, false},
  };
  for (const Case& c : cases) {
    ZipEntry e;
    e.name = c.name;
    e.made_by_host = c.host;
    e.external_attributes = c.attributes;
    EXPECT_EQ(IsDirectoryMember(e), c.directory) << c.name << " host " << int(c.host);
  }
}

}  // namespace
}  // namespace quorvane
