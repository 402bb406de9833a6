#include "installer/archive/checksums.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quorvane {
namespace {

using test::ScratchDir;
using test::WriteFile;

// Hands out its text in pieces of a fixed size, then optionally fails.
class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string text, size_t piece = 7, bool fail_at_end = false)
      : text_(std::move(text)), piece_(piece), fail_at_end_(fail_at_end) {}

  Result<size_t> Read(char* buf, size_t n) override {
    if (pos_ == text_.size() && fail_at_end_) return Error("read failed", EIO);
    size_t k = std::min({n, piece_, text_.size() - pos_});
    memcpy(buf, text_.data() + pos_, k);
    pos_ += k;
    return k;
  }

 private:
  std::string text_;
  size_t piece_;
  bool fail_at_end_;
  size_t pos_ = 0;
};

const std::string kHashA(64, 'a');
const std::string kHashB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
// SHA-256 of "hello\n".
const std::string kHelloDigest = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03";

std::string Entries(const ChecksumList& list) {
  std::string out;
  for (const FileChecksum& e : list) out += "[" + e.FileSha256 + "|" + e.FileName + "]";
  return out;
}

struct ParseCase {
  const char* what;
  std::string text;
  std::string entries;  // expected entries, or empty when error is set
  std::string error;
};

TEST(ParseChecksumsFile, LinesToEntriesOrError) {
  const std::string a = "[" + kHashA + "|a]";
  const std::string b = "[" + kHashB + "|b c]";
  const std::string upper = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
  const std::vector<ParseCase> cases = {
      {"lf", kHashA + " a\n" + kHashB + " b c\n", a + b, ""},
      {"crlf", kHashA + " a\r\n" + kHashB + " b c\r\n", a + b, ""},
      {"no final newline", kHashA + " a\n" + kHashB + " b c", a + b, ""},
      {"final cr without newline", kHashA + " a\r", a, ""},
      {"empty", "", "", ""},
      {"upper-case digest kept", upper + " x", "[" + upper + "|x]", ""},
      {"not hex but 64 bytes", std::string(64, 'z') + " x",
       std::string("[").append(64, 'z') + "|x]", ""},
      {"second blank starts the name", kHashA + "  a", "[" + kHashA + "| a]", ""},
      {"tab is not a line end", kHashA + " a\tb\n", "[" + kHashA + "|a\tb]", ""},
      {"only one cr removed", kHashA + " a\r\r\n", "[" + kHashA + "|a\r]", ""},
      {"only a newline", "\n", "", "invalid line: "},
      {"blank line between", kHashA + " a\n\n" + kHashB + " b", "", "invalid line: "},
      {"two newlines at the end", kHashA + " a\n\n", "", "invalid line: "},
      {"63-byte digest", std::string(63, 'a') + " a", "",
       "invalid line: " + std::string(63, 'a') + " a"},
      {"65-byte digest", std::string(65, 'a') + " a", "",
       "invalid line: " + std::string(65, 'a') + " a"},
      {"no blank", kHashA, "", "invalid line: " + kHashA},
      {"empty name", kHashA + " \r\n", "", "invalid line: " + kHashA + " "},
      {"invalid later line discards earlier", kHashA + " a\nbad\n", "", "invalid line: bad"},
  };
  for (const ParseCase& c : cases) {
    for (size_t piece : {size_t{1}, size_t{5}, size_t{4096}}) {
      StringSource src(c.text, piece);
      Result<ChecksumList> list = parseChecksumsFile(src);
      if (c.error.empty()) {
        ASSERT_TRUE(list.ok()) << c.what << ": " << list.error().message;
        EXPECT_EQ(Entries(*list), c.entries) << c.what;
        for (const FileChecksum& e : *list) EXPECT_FALSE(e.Validated);
      } else {
        ASSERT_FALSE(list.ok()) << c.what;
        EXPECT_EQ(list.error().message, c.error) << c.what;
      }
    }
  }
}

TEST(ParseChecksumsFile, LineLengthLimit) {
  const std::string first = kHashA + " a\n";
  // A line of exactly 65,535 bytes before its "\n" (its "\r" counted) is read.
  std::string longest = kHashB + " " + std::string(kMaxChecksumLineLength - 66, 'n') + "\r";
  ASSERT_EQ(longest.size(), kMaxChecksumLineLength);
  StringSource fits(first + longest + "\n" + kHashA + " z", 4096);
  Result<ChecksumList> list = parseChecksumsFile(fits);
  ASSERT_TRUE(list.ok());
  ASSERT_EQ(list->size(), 3u);
  EXPECT_EQ((*list)[1].FileName, std::string(kMaxChecksumLineLength - 66, 'n'));

  // One byte more ends the list before that line, with no error, even when
  // invalid lines follow.
  std::string too_long = longest + "x";
  for (std::string tail : {std::string("\n") + kHashA + " z\nbad\n", std::string()}) {
    StringSource src(first + too_long + tail, 4096);
    Result<ChecksumList> cut = parseChecksumsFile(src);
    ASSERT_TRUE(cut.ok());
    EXPECT_EQ(Entries(*cut), "[" + kHashA + "|a]");
  }
}

TEST(ParseChecksumsFile, ReadFailureEndsTheDataWithoutError) {
  // The incomplete last line delivered before the failure is still a line.
  StringSource src(kHashA + " a\n" + kHashB + " b", 3, /*fail_at_end=*/true);
  Result<ChecksumList> list = parseChecksumsFile(src);
  ASSERT_TRUE(list.ok());
  EXPECT_EQ(Entries(*list), "[" + kHashA + "|a][" + kHashB + "|b]");
}

TEST(ComputeFileSha256, DigestsAndErrors) {
  ScratchDir dir;
  WriteFile(dir / "hello", "hello\n");
  WriteFile(dir / "empty", "");
  // Larger than one read piece, so the digest spans several reads.
  WriteFile(dir / "big", std::string(200000, 'q'));

  EXPECT_EQ(*computeFileSha256(dir / "hello"), kHelloDigest);
  EXPECT_EQ(*computeFileSha256(dir / "empty"),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(*computeFileSha256(dir / "big"),
            "e10c5bfaac1164b6f5290797df8a7fdb304370ff6c6e7768cfc8728dceb41c4e");

  Result<std::string> missing = computeFileSha256(dir / "missing");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().message, "open " + (dir / "missing") + ": no such file or directory");
  EXPECT_EQ(missing.error().errnum, ENOENT);

  Result<std::string> directory = computeFileSha256(dir.path());
  ASSERT_FALSE(directory.ok());
  EXPECT_EQ(directory.error().message, "read " + dir.path() + ": is a directory");
}

TEST(VerifyFileChecksumIntegrity, MarksTheFirstEntryOfTheName) {
  ScratchDir dir;
  WriteFile(dir / "hello", "hello\n");
  const std::string path = dir / "hello";

  ChecksumList list = {
      {kHashA, "other", false}, {kHelloDigest, "hello", false}, {kHelloDigest, "hello", false}};
  ASSERT_TRUE(verifyFileChecksumIntegrity(path, list).ok());
  EXPECT_FALSE(list[0].Validated);
  EXPECT_TRUE(list[1].Validated);
  EXPECT_FALSE(list[2].Validated);  // only the first entry of a name can match

  Status again = verifyFileChecksumIntegrity(path, list);
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.error().message,
            "file integrity failed for hello (" + kHelloDigest + "), already validated");
  EXPECT_FALSE(list[2].Validated);
}

TEST(VerifyFileChecksumIntegrity, Errors) {
  ScratchDir dir;
  WriteFile(dir / "hello", "hello\n");
  const std::string path = dir / "hello";
  std::string upper = kHelloDigest;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));

  struct Case {
    ChecksumList list;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{{kHashA, "hello", false}},
       "file integrity failed for hello (" + kHelloDigest + "), expected " + kHashA},
      {{{upper, "hello", false}},
       "file integrity failed for hello (" + kHelloDigest + "), expected " + upper},
      {{{kHelloDigest, "x/hello", false}, {kHelloDigest, "Hello", false}},
       "file hello not found in checksum list"},
      {{}, "file hello not found in checksum list"},
  };
  for (Case c : cases) {
    Status st = verifyFileChecksumIntegrity(path, c.list);
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(st.error().message, c.error);
    for (const FileChecksum& e : c.list) EXPECT_FALSE(e.Validated);
  }

  // A digest that cannot be computed is returned as it is; the list is untouched.
  ChecksumList list = {{kHelloDigest, "missing", false}};
  Status st = verifyFileChecksumIntegrity(dir / "missing", list);
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.error().message, "open " + (dir / "missing") + ": no such file or directory");
  EXPECT_FALSE(list[0].Validated);
}

}  // namespace
}  // namespace quorvane
