#include "startup.h"

#include "paths.h"

#include <cerrno>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

static const char* kept_program_name = "";

// Tries to become the account, group first, with the account's
// supplementary groups. Returns false with errno set at the first call
// that fails.
static bool become(const char* name, uid_t uid, gid_t gid)
{
    return initgroups(name, gid) == 0 && setregid(gid, gid) == 0 && setreuid(uid, uid) == 0;
}

// True when both the real and the effective ids are the account's.
static bool is_account(uid_t uid, gid_t gid)
{
    return getuid() == uid && geteuid() == uid && getgid() == gid && getegid() == gid;
}

// Becomes the configured account. An ordinary user lacks the privilege:
// the calls fail and the process keeps its identity, as intended. Root
// that fails to switch (for want of the capability, say) must stop, or it
// would create files that the account cannot replace and follow links
// that the account planted. False with errno set in that case only.
static bool switch_account()
{
    const passwd* account = getpwnam(account_name);
    if (account == nullptr)
        return true;
    uid_t uid = account->pw_uid;
    gid_t gid = account->pw_gid;
    if (geteuid() != 0) {
        // Each call on its own: a set-group-id program may change its
        // group though it may not change its supplementary groups.
        if (initgroups(account_name, gid) != 0) {
            // Not privileged: the supplementary groups stay as they are.
        }
        if (setregid(gid, gid) != 0) {
            // Not privileged: the group stays as it is.
        }
        if (setreuid(uid, uid) != 0) {
            // Not privileged: the user stays as it is.
        }
        return true;
    }
    if (!become(account_name, uid, gid))
        return false;
    if (!is_account(uid, gid)) {
        errno = EPERM;
        return false;
    }
    return true;
}

bool common_startup(const char* const argv[])
{
    if (argv[0] != nullptr)
        kept_program_name = argv[0];
    umask(022);
    // A write past the file size limit then fails with EFBIG and is
    // reported like any failed write, instead of killing the process
    // half-way through a line or while it holds a lock.
    signal(SIGXFSZ, SIG_IGN);
    return switch_account();
}

const char* program_name()
{
    return kept_program_name;
}
