#include "common/write_all.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "common/owned.h"

namespace quorvane {
namespace {

struct Pipe {
  UniqueFd read_end, write_end;
  Pipe() {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
  }
};

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

// A non-blocking descriptor that fills up is waited on, not given up on.
TEST(WriteAllTest, FullNonBlockingPipeTakesEveryByteInOrder) {
  Pipe p;
  ASSERT_EQ(fcntl(p.write_end.get(), F_SETFL, O_NONBLOCK), 0);
  const std::string data = Pattern(4 << 20);  // many times a pipe's buffer
  std::string received;
  std::thread reader([&] {
    char buf[4096];
    for (;;) {
      usleep(100);  // slower than the writer, so that the pipe fills
      ssize_t n = read(p.read_end.get(), buf, sizeof buf);
      if (n <= 0) break;
      received.append(buf, static_cast<size_t>(n));
    }
  });
  Status st = WriteAll(p.write_end.get(), data, "pipe");
  p.write_end.reset();
  reader.join();
  ASSERT_TRUE(st.ok()) << st.error().message;
  EXPECT_TRUE(received == data);
}

TEST(WriteAllTest, FailureNamesTheCallAndTheTarget) {
  Pipe p;
  p.read_end.reset();
  struct sigaction ignore = {}, old = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old);
  Status st = WriteAll(p.write_end.get(), "x", "the sink");
  sigaction(SIGPIPE, &old, nullptr);
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.error().message, "write the sink: broken pipe");
  EXPECT_EQ(st.error().errnum, EPIPE);
}

}  // namespace
}  // namespace quorvane
