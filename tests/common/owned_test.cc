#include "common/owned.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace quorvane {
namespace {

TEST(OwnedTest, ReleasesOnceAndMovesOwnership) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  {
    UniqueFd a(fds[0]);
    UniqueFd b(std::move(a));
    EXPECT_FALSE(a.valid());
    EXPECT_EQ(b.get(), fds[0]);
    UniqueFd c(fds[1]);
    c = std::move(b);  // closes fds[1], takes fds[0]
    EXPECT_EQ(fcntl(fds[1], F_GETFD), -1);
    EXPECT_EQ(fcntl(fds[0], F_GETFD), FD_CLOEXEC);
  }
  EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);
}

}  // namespace
}  // namespace quorvane
