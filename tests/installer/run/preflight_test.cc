#include "installer/run/preflight.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <limits>

#include "installer/constants.h"
#include "installer/run/exit_codes.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using platform::FileSystemStats;
using test::LogLines;
using test::ReadFile;
using test::ScratchDir;

FileSystemQuery Figures(uint64_t free_blocks, uint64_t block_size) {
  return [=](int, const std::string&) -> Result<FileSystemStats> {
    FileSystemStats st;
    st.free_blocks = free_blocks;
    st.block_size = block_size;
    return st;
  };
}

TEST(DiskSpaceTest, Threshold) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  struct Case {
    uint64_t blocks, size;
    bool enough;
  };
  const Case cases[] = {
      {38400, 4096, true},  // exactly 150 MiB
      {157286400, 1, true},
      {157286399, 1, false},  // one byte less
      {38399, 4096, false},
      {0, 4096, false},
      {kMax, 4096, true},            // a product beyond 64 bits is not wrapped
      {uint64_t{1} << 62, 4, true},  // would wrap to 0
      {1, 0, false},
  };
  for (const Case& c : cases) {
    Result<bool> got = HasEnoughFreeSpace("/x", Figures(c.blocks, c.size));
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(*got, c.enough) << c.blocks << " x " << c.size;
  }
}

TEST(DiskSpaceTest, SystemQuery) {
  ScratchDir s;
  Result<FileSystemStats> got = platform::QueryFileSystem(AT_FDCWD, s.path());
  ASSERT_TRUE(got.ok()) << got.error().message;
  struct statvfs want;
  ASSERT_EQ(statvfs(s.path().c_str(), &want), 0);
  EXPECT_EQ(got->block_size, want.f_bsize);
  EXPECT_GT(got->free_blocks, 0u);
  // Blocks reserved for the superuser count: the figure is f_bfree, which
  // on a file system with reserved blocks lies well apart from f_bavail.
  if (want.f_bfree - want.f_bavail > 1000) {
    EXPECT_GT(got->free_blocks, want.f_bavail + (want.f_bfree - want.f_bavail) / 2);
  }

  // The error is the system's description alone.
  Result<bool> missing = HasEnoughFreeSpace(s / "missing");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().message, "no such file or directory");
  EXPECT_EQ(missing.error().errnum, ENOENT);
}

// A run whose log goes to a file in a scratch directory.
class StepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_.params.TempDir = s_ / "tmp";
    run_.log.initInstallerLog(s_ / "log", true);
  }
  std::vector<std::string> Logged() { return LogLines(ReadFile(s_ / "log")); }

  ScratchDir s_;
  RunState run_;
};

TEST_F(StepTest, ArchitectureLines) {
  LogArchitectureLines(run_);
  EXPECT_EQ(Logged(), (std::vector<std::string>{"[INFO ] OS architecture: amd64",
                                                "[INFO ] quorvane architecture: amd64"}));
}

TEST_F(StepTest, FreeSpaceOutcomes) {
  std::string asked;
  FileSystemQuery failing = [&](int, const std::string& path) -> Result<FileSystemStats> {
    asked = path;
    return ErrnoError(EACCES);
  };
  EXPECT_TRUE(RequireFreeSpace(run_, Figures(38400, 4096)));
  EXPECT_EQ(run_.exitCode, 0);
  EXPECT_FALSE(RequireFreeSpace(run_, Figures(38399, 4096)));
  EXPECT_EQ(run_.exitCode, exitNoDiskSpace);
  EXPECT_FALSE(RequireFreeSpace(run_, failing));
  EXPECT_EQ(run_.exitCode, exitDiskCheckFailed);
  EXPECT_EQ(asked, s_ / "tmp");
  EXPECT_EQ(Logged(), (std::vector<std::string>{
                          "[ERROR] Not enough space in " + s_ / "tmp" + ".",
                          "[ERROR] Couldn't check available disk space. (permission denied)"}));
}

TEST(UserLookupTest, FirstBufferSize) {
  const std::pair<long, size_t> cases[] = {
      {-1, 1024},   {0, 1048576},       {-2, 1048576},      {1, 1},
      {4096, 4096}, {1048576, 1048576}, {1048577, 1048576},
  };
  for (const auto& [reported, want] : cases)
    EXPECT_EQ(UserLookupBufferSize(reported), want) << reported;
}

// A user database with one answer; it records the buffer sizes it was given.
struct FakeUsers {
  uid_t real = 0;
  long hint = 1024;
  size_t needs = 0;  // ERANGE below this buffer size
  int answer = 0;    // the errno value returned once the buffer is large enough
  bool found = true;
  uid_t entry_uid = 0;
  std::vector<size_t> sizes;
  std::vector<uid_t> asked;
  struct passwd pwd = {};

  UserDatabase Database() {
    UserDatabase db;
    db.real_uid = [this] { return real; };
    db.buffer_size_hint = [this] { return hint; };
    db.lookup = [this](uid_t uid, struct passwd* out, char*, size_t size, struct passwd** result) {
      sizes.push_back(size);
      asked.push_back(uid);
      *result = nullptr;
      if (size < needs) return ERANGE;
      if (answer != 0 || !found) return answer;
      out->pw_uid = entry_uid;
      *result = out;
      return 0;
    };
    return db;
  }
};

TEST(UserLookupTest, RootIsTheEntryWithUserIdZero) {
  FakeUsers root;
  Result<bool> got = checkAdministrator(root.Database());
  ASSERT_TRUE(got.ok());
  EXPECT_TRUE(*got);

  FakeUsers other;
  other.real = 1000;
  other.entry_uid = 1000;
  got = checkIfRoot(other.Database());
  ASSERT_TRUE(got.ok());
  EXPECT_FALSE(*got);
  EXPECT_EQ(other.asked, std::vector<uid_t>{1000});
}

TEST(UserLookupTest, BufferDoublesUpToOneMebibyte) {
  FakeUsers users;
  users.hint = -1;
  users.needs = 8192;
  Result<bool> got = checkIfRoot(users.Database());
  ASSERT_TRUE(got.ok());
  EXPECT_TRUE(*got);
  EXPECT_EQ(users.sizes, (std::vector<size_t>{1024, 2048, 4096, 8192}));

  FakeUsers huge;
  huge.hint = 300000;
  huge.needs = 2000000;
  got = checkIfRoot(huge.Database());
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(huge.sizes, (std::vector<size_t>{300000, 600000}));  // 1,200,000 would be too much
}

TEST(UserLookupTest, MissingEntryOrErrorFails) {
  FakeUsers none;
  none.found = false;
  FakeUsers enoent;
  enoent.answer = ENOENT;
  FakeUsers eio;
  eio.answer = EIO;
  for (FakeUsers* users : {&none, &enoent, &eio}) {
    Result<bool> got = checkIfRoot(users->Database());
    ASSERT_FALSE(got.ok()) << users->answer;
  }
  EXPECT_EQ(checkIfRoot(none.Database()).error().message, "unknown userid 0");
  EXPECT_EQ(checkIfRoot(eio.Database()).error().message, "lookup userid 0: " + ErrnoText(EIO));
}

TEST_F(StepTest, AdministratorOutcomes) {
  FakeUsers users;
  users.found = false;
  EXPECT_FALSE(RequireAdministrator(run_, users.Database()));
  EXPECT_EQ(run_.exitCode, exitAdminCheckFailed);

  users.found = true;
  users.real = users.entry_uid = 1000;
  EXPECT_FALSE(RequireAdministrator(run_, users.Database()));
  EXPECT_EQ(run_.exitCode, exitNotAdmin);

  // Either option skips the check without asking the user database.
  users.sizes.clear();
  run_.exitCode = 0;
  run_.params.NoAdminCheck = true;
  EXPECT_TRUE(RequireAdministrator(run_, users.Database()));
  run_.params.NoAdminCheck = false;
  run_.params.NoCheck = true;
  EXPECT_TRUE(RequireAdministrator(run_, users.Database()));
  EXPECT_TRUE(users.sizes.empty());
  EXPECT_EQ(run_.exitCode, 0);

  EXPECT_EQ(Logged(),
            (std::vector<std::string>{
                "[ERROR] Couldn't check if Quorvane is running with administrator privileges",
                "[ERROR] Quorvane needs administrator privileges.",
                "[INFO ] Administrator privileges check ignored due command line arguments",
                "[INFO ] Administrator privileges check ignored due command line arguments"}));
}

}  // namespace
}  // namespace quorvane
