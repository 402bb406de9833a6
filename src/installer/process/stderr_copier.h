// Passes a child's standard error on while keeping a copy of it.
#ifndef QUORVANE_INSTALLER_PROCESS_STDERR_COPIER_H_
#define QUORVANE_INSTALLER_PROCESS_STDERR_COPIER_H_

#include <optional>
#include <string>
#include <thread>

#include "common/error.h"
#include "common/owned.h"
#include "installer/process/stderr_capture.h"

namespace quorvane {

// Reads a pipe until its end and writes each piece read to a sink, then
// appends it to a capture. At the first failure to read or to pass a piece
// on it stops: that piece and everything after it are not captured. Either
// way it closes the pipe, so that the writers' further writes fail. When the
// capture runs out of memory, the copy goes on without it: the sink still
// gets everything, and the capture keeps what it had.
//
// The copy itself neither allocates nor throws; its failure becomes an Error
// only in Wait, on the waiting thread.
//
// A write to a sink without a reader fails with EPIPE instead of ending the
// installer by SIGPIPE: the copying thread blocks SIGPIPE while it runs.
class StderrCopier {
 public:
  // Takes ownership of source; sink_name names the sink in error texts.
  StderrCopier(int source, int sink, std::string sink_name, StderrCapture* capture) noexcept;
  ~StderrCopier();  // waits for the copy when it was not waited for
  StderrCopier(const StderrCopier&) = delete;
  StderrCopier& operator=(const StderrCopier&) = delete;

  // Starts the copy on a thread of its own; when no thread can be created,
  // the copy runs here and Start returns once it is done.
  void Start() noexcept;

  // Waits for the copy to finish; the first failure, if any.
  std::optional<Error> Wait();

 private:
  // What stopped the copy: an operation and its errno (0: a short write).
  struct Failure {
    const char* op;
    int errnum;
  };

  void Copy() noexcept;
  std::optional<Failure> PassOn(const char* data, size_t size) noexcept;

  UniqueFd source_;  // the pipe from the child; closed once drained
  int sink_;
  std::string sink_name_;
  StderrCapture* capture_;
  std::optional<Failure> failure_;
  std::thread thread_;
};

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_PROCESS_STDERR_COPIER_H_
