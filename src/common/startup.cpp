#include "startup.h"

#include "paths.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

static const char* kept_program_name = "";

// Becomes the configured account, group first, with that account's
// supplementary groups instead of the caller's. Without the privilege every
// call fails and the process keeps the identity it was started with.
static void switch_account()
{
    const passwd* account = getpwnam(account_name);
    if (account == nullptr)
        return;
    uid_t uid = account->pw_uid;
    gid_t gid = account->pw_gid;
    if (initgroups(account_name, gid) != 0) {
        // Not privileged: the supplementary groups stay as they are.
    }
    if (setregid(gid, gid) != 0) {
        // Not privileged: the group stays as it is.
    }
    if (setreuid(uid, uid) != 0) {
        // Not privileged: the user stays as it is.
    }
}

void common_startup(const char* const argv[])
{
    switch_account();
    umask(022);
    if (argv[0] != nullptr)
        kept_program_name = argv[0];
}

const char* program_name()
{
    return kept_program_name;
}
