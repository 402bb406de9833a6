// Ownership of system handles: each descriptor, directory stream or library
// handle is owned by one object that releases it once, on every way out.
#ifndef QUORVANE_COMMON_OWNED_H_
#define QUORVANE_COMMON_OWNED_H_

#include <dirent.h>
#include <unistd.h>

#include <utility>

namespace quorvane {

// A move-only owner of one handle. Traits give the empty value and the
// release call: `static H Empty()` and `static void Release(H)`.
template <typename H, typename Traits>
class Owned {
 public:
  Owned() = default;
  explicit Owned(H handle) : handle_(handle) {}
  Owned(Owned&& other) noexcept : handle_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    reset(other.release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }

  H get() const { return handle_; }
  bool valid() const { return handle_ != Traits::Empty(); }
  explicit operator bool() const { return valid(); }

  // Gives the handle up without releasing it.
  H release() { return std::exchange(handle_, Traits::Empty()); }

  // Releases the handle owned so far and takes handle.
  void reset(H handle = Traits::Empty()) {
    H old = std::exchange(handle_, handle);
    if (old != Traits::Empty()) Traits::Release(old);
  }

 private:
  H handle_ = Traits::Empty();
};

struct FdTraits {
  static int Empty() { return -1; }
  static void Release(int fd) { ::close(fd); }
};

struct DirTraits {
  static DIR* Empty() { return nullptr; }
  static void Release(DIR* dir) { ::closedir(dir); }
};

// A file descriptor; closed when its owner goes.
using UniqueFd = Owned<int, FdTraits>;

// A directory stream and the descriptor inside it.
using UniqueDir = Owned<DIR*, DirTraits>;

}  // namespace quorvane

#endif  // QUORVANE_COMMON_OWNED_H_
