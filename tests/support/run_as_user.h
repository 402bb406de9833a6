// Runs a program under other user ids, for the checks that depend on them.
#ifndef QUORVANE_TESTS_SUPPORT_RUN_AS_USER_H_
#define QUORVANE_TESTS_SUPPORT_RUN_AS_USER_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace quorvane::test {

inline constexpr uid_t kNobodyUid = 65534;
inline constexpr gid_t kNobodyGid = 65534;

// Runs exe with exactly argv and env in cwd, with the real user id ruid and
// the effective (and saved) user id euid, group gid and no supplementary
// groups (RunProcess with Wrapper::user). Returns the exit status, or -1 when
// the process did not exit. Needs user id 0.
int RunAsUser(uid_t ruid, uid_t euid, gid_t gid, const std::string& exe,
              const std::vector<std::string>& argv, const std::vector<std::string>& env,
              const std::string& cwd);

// Makes dir and every directory above it searchable by all (adds o+x), so
// that another user can reach what is inside.
void MakeReachable(const std::string& dir);

}  // namespace quorvane::test

#endif  // QUORVANE_TESTS_SUPPORT_RUN_AS_USER_H_
