#include "installer/process/stderr_capture.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quorvane {

StderrCapture::~StderrCapture() {
  while (head_ != nullptr) {
    Chunk* next = head_->next;
    delete head_;
    head_ = next;
  }
}

char* StderrCapture::Room(size_t* size) noexcept {
  *size = 0;
  if (stopped_) return nullptr;
  if (tail_ == nullptr || tail_->used == kChunkSize) {
    Chunk* chunk = new (std::nothrow) Chunk;
    if (chunk == nullptr) {
      stopped_ = true;
      return nullptr;
    }
    (tail_ == nullptr ? head_ : tail_->next) = chunk;
    tail_ = chunk;
  }
  *size = kChunkSize - tail_->used;
  return tail_->data + tail_->used;
}

void StderrCapture::Commit(size_t n) noexcept {
  tail_->used += n;
  size_ += n;
}

std::string StderrCapture::Head(size_t n) const {
  std::string out;
  ForEachPiece([&](std::string_view piece) {
    out.append(piece.substr(0, n - out.size()));
    return out.size() < n;
  });
  return out;
}

}  // namespace quorvane
