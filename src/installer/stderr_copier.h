// Passes a child's standard error on while keeping a copy of it.
#ifndef QUORVANE_INSTALLER_STDERR_COPIER_H_
#define QUORVANE_INSTALLER_STDERR_COPIER_H_

#include <optional>
#include <string>
#include <thread>

#include "common/error.h"

namespace quorvane {

// Reads a pipe until its end and writes each piece read to a sink, then
// appends it to a capture buffer. At the first failure to read or to pass a
// piece on it stops: that piece and everything after it are not captured.
// Either way it closes the pipe, so that the writers' further writes fail.
//
// A write to a sink without a reader fails with EPIPE instead of ending the
// installer by SIGPIPE: the copying thread blocks SIGPIPE while it runs.
class StderrCopier {
 public:
  // Takes ownership of source; sink_name names the sink in error texts.
  StderrCopier(int source, int sink, std::string sink_name, std::string* capture);
  ~StderrCopier();  // waits for the copy when it was not waited for
  StderrCopier(const StderrCopier&) = delete;
  StderrCopier& operator=(const StderrCopier&) = delete;

  // Starts the copy on a thread of its own; when no thread can be created,
  // the copy runs here and Start returns once it is done.
  void Start();

  // Waits for the copy to finish; the first failure, if any.
  std::optional<Error> Wait();

 private:
  void Copy();
  Status PassOn(const char* data, size_t size);

  int source_;
  int sink_;
  std::string sink_name_;
  std::string* capture_;
  std::optional<Error> error_;
  std::thread thread_;
};

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_STDERR_COPIER_H_
