// Scratch areas under the build tree and the removal of what is left in
// them. The tests and the fuzz targets both use these, so nothing here
// depends on the test framework.
#ifndef QUORVANE_TESTS_SUPPORT_SCRATCH_H_
#define QUORVANE_TESTS_SUPPORT_SCRATCH_H_

#include <string>

namespace quorvane::test {

// Removes a tree, making its directories writable and searchable first;
// links are removed, never followed. A missing path is no error.
void RemoveTree(const std::string& path);

// A fresh directory named prefix.XXXXXX in the build's scratch area (the test
// area for the tests, the fuzz area for the fuzz targets), removed with all
// it holds when destroyed. Throws std::runtime_error when it cannot be made.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix = "t");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace quorvane::test

#endif  // QUORVANE_TESTS_SUPPORT_SCRATCH_H_
