#include "installer/process/stderr_copier.h"

#include <errno.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <utility>

#include "common/write_all.h"

namespace quorvane {
namespace {

constexpr size_t kPieceSize = 32 * 1024;

// Blocks SIGPIPE on the calling thread for its lifetime. A SIGPIPE that a
// failed write raised on this thread is taken off before the mask is put
// back, so that it cannot strike later.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
  }
  ~SigpipeBlock() {
    if (raised_) {
      sigset_t pending;
      sigemptyset(&pending);
      if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        struct timespec zero = {0, 0};
        sigtimedwait(&pipe_, nullptr, &zero);
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

  void NoteRaised() { raised_ = true; }

 private:
  sigset_t pipe_;
  sigset_t saved_;
  bool raised_ = false;
};

}  // namespace

StderrCopier::StderrCopier(int source, int sink, std::string sink_name,
                           StderrCapture* capture) noexcept
    : source_(source), sink_(sink), sink_name_(std::move(sink_name)), capture_(capture) {}

StderrCopier::~StderrCopier() {
  if (thread_.joinable()) thread_.join();
}

void StderrCopier::Start() noexcept {
  try {
    thread_ = std::thread([this] { Copy(); });
  } catch (...) {
    Copy();  // the child's pipe still has to be drained, or the child stalls
  }
}

std::optional<Error> StderrCopier::Wait() {
  if (thread_.joinable()) thread_.join();
  if (!failure_) return std::nullopt;
  if (failure_->errnum == 0) return PathError("write", sink_name_, "short write");
  const std::string what = failure_->op == std::string_view("read") ? "stderr pipe" : sink_name_;
  return SysError(failure_->op, what, failure_->errnum);
}

// Each piece is read straight into the capture's free room when there is
// some, so that keeping it costs no copy; otherwise into a buffer here.
void StderrCopier::Copy() noexcept {
  SigpipeBlock block;
  char buffer[kPieceSize];
  for (;;) {
    size_t room = 0;
    char* piece = capture_->Room(&room);
    if (piece == nullptr) {
      piece = buffer;
      room = sizeof buffer;
    }
    ssize_t n = read(source_.get(), piece, std::min(room, kPieceSize));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      failure_ = Failure{"read", errno};
      break;
    }
    if (n == 0) break;
    std::optional<Failure> failed = PassOn(piece, static_cast<size_t>(n));
    if (failed) {
      if (failed->errnum == EPIPE) block.NoteRaised();
      failure_ = failed;
      break;
    }
    if (piece != buffer) capture_->Commit(static_cast<size_t>(n));
  }
  source_.reset();
}

// Writes the whole piece; a sink that takes part of it is written again with
// the rest, and a non-blocking sink that is full is waited for.
std::optional<StderrCopier::Failure> StderrCopier::PassOn(const char* data, size_t size) noexcept {
  std::optional<int> failed = WriteAllBytes(sink_, std::string_view(data, size));
  if (failed) return Failure{"write", *failed};
  return std::nullopt;
}

}  // namespace quorvane
