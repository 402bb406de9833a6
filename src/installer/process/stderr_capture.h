// The copy of a child's standard error that the installer keeps in memory.
#ifndef QUORVANE_INSTALLER_PROCESS_STDERR_CAPTURE_H_
#define QUORVANE_INSTALLER_PROCESS_STDERR_CAPTURE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

// The captured bytes in fixed-size chunks on a list: growing never copies
// what is held, and memory stays close to the bytes captured. Allocation
// never throws: when a chunk cannot be had, the capture stops for good and
// keeps what it holds, a prefix of everything offered to it.
class StderrCapture {
 public:
  static constexpr size_t kChunkSize = 64 * 1024;

  StderrCapture() = default;
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Room for the next bytes at the end of the capture, at least one byte;
  // nullptr (size 0) once the capture has stopped or no chunk can be had.
  // Bytes placed there count only once Commit takes them.
  char* Room(size_t* size) noexcept;
  // Takes n bytes placed at the start of the last Room.
  void Commit(size_t n) noexcept;

  bool empty() const noexcept { return size_ == 0; }
  size_t size() const noexcept { return size_; }
  // Whether memory ran out, so that not everything offered was kept.
  bool stopped() const noexcept { return stopped_; }

  // The first n bytes (all of them when fewer are held).
  std::string Head(size_t n) const;

  // Calls visit(std::string_view) for each piece in order, until it returns false.
  template <typename Visit>
  bool ForEachPiece(Visit visit) const {
    for (const Chunk* c = head_; c != nullptr; c = c->next) {
      if (c->used > 0 && !visit(std::string_view(c->data, c->used))) return false;
    }
    return true;
  }

 private:
  struct Chunk {
    Chunk* next = nullptr;
    size_t used = 0;
    char data[kChunkSize];
  };

  Chunk* head_ = nullptr;
  Chunk* tail_ = nullptr;
  size_t size_ = 0;
  bool stopped_ = false;
};

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_PROCESS_STDERR_CAPTURE_H_
