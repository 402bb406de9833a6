#include "installer/cleanup.h"

#include <errno.h>
#include <sys/stat.h>

#include "common/path.h"
#include "common/unicode_case.h"

namespace quorvane {

bool IsNotFoundError(const Error& error) { return error.errnum == ENOENT; }

std::string FileModeText(mode_t mode) {
  std::string out;
  if (S_ISDIR(mode)) out += 'd';
  if (S_ISLNK(mode)) out += 'L';
  if (S_ISBLK(mode) || S_ISCHR(mode)) out += 'D';
  if (S_ISFIFO(mode)) out += 'p';
  if (S_ISSOCK(mode)) out += 'S';
  if (mode & S_ISUID) out += 'u';
  if (mode & S_ISGID) out += 'g';
  if (S_ISCHR(mode)) out += 'c';
  if (mode & S_ISVTX) out += 't';
  if (out.empty()) out += '-';
  static const char kRwx[] = "rwx";
  for (int bit = 8; bit >= 0; --bit) out += (mode & (1u << bit)) ? kRwx[(8 - bit) % 3] : '-';
  return out;
}

// A bare text prefix would let the safe directory /tmp/quorvane_1 admit its
// sibling /tmp/quorvane_12, so the prefix must end at an element boundary.
Status isSafeToDelete(const std::string& path, const std::string& safeDir) {
  Result<std::string> abs = MakeAbsolute(path);
  if (!abs.ok()) return abs.error();
  std::string lowerPath = ToLowerUnicode(*abs);
  std::string lowerSafe = ToLowerUnicode(safeDir);
  const bool prefix = lowerPath.size() >= lowerSafe.size() &&
                      lowerPath.compare(0, lowerSafe.size(), lowerSafe) == 0;
  if (prefix && (lowerSafe.empty() || lowerSafe.back() == '/' ||
                 lowerPath.size() == lowerSafe.size() || lowerPath[lowerSafe.size()] == '/')) {
    return Status::Ok();
  }
  return Error("cannot delete files or directory outside safe temporary directory " + safeDir);
}

void cleanupInstallDir(const DeleteContext& ctx, const Parameters& params,
                       const std::string& installDir) {
  if (params.NoDelete && !params.Kill && !params.Help) {
    ctx.log.Logf("[INFO ] Deleting temporary files ignored due command line arguments");
    return;
  }
  ctx.log.Logf("[INFO ] Delete temporary installer directory: %s", installDir);
  Status st = deleteAll(ctx, installDir, installDir, cleanupRetries, cleanupRetryDelay);
  if (!st.ok()) {
    ctx.log.Logf("[ERROR] Failed to delete temporary installer directory \"%s\". (%s)", installDir,
                 st.error());
  }
}

void cleanupInstallDir(InstallerLog& log, const Parameters& params, const std::string& installDir) {
  cleanupInstallDir(DeleteContext{log, DeleteOps{}}, params, installDir);
}

}  // namespace quorvane
