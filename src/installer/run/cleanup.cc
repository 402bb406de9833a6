#include "installer/run/cleanup.h"

namespace quorvane {

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

void cleanupInstallDir(InstallerLog& log, const Parameters& params, const std::string& installDir,
                       const std::optional<HeldTree>& created) {
  cleanupInstallDir(DeleteContext{log, DeleteOps{}, created}, params, installDir);
}

}  // namespace quorvane
