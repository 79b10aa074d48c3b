#include "locks.h"

#include "findings.h"
#include "paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

// Writes a time span as a whole number of its largest fitting unit, up to
// twice that unit: "90 seconds", "3 hours", "12 days".
static void format_age(time_t seconds, char (&text)[32])
{
    const time_t minute = 60;
    const time_t hour = 60 * minute;
    const time_t day = 24 * hour;
    if (seconds < 0)
        seconds = 0;
    if (seconds < 2 * minute)
        snprintf(text, sizeof text, "%lld seconds", static_cast<long long>(seconds));
    else if (seconds < 2 * hour)
        snprintf(text, sizeof text, "%lld minutes", static_cast<long long>(seconds / minute));
    else if (seconds < 2 * day)
        snprintf(text, sizeof text, "%lld hours", static_cast<long long>(seconds / hour));
    else
        snprintf(text, sizeof text, "%lld days", static_cast<long long>(seconds / day));
}

// Reports the lock file at path if it exists.
static void check_lock_file(const char* path)
{
    struct stat st;
    if (lstat(path, &st) != 0) {
        if (errno != ENOENT)
            report(Severity::error, path, 0, "cannot be looked at: %s", strerror(errno));
        return;
    }
    char age[32];
    format_age(time(nullptr) - st.st_mtime, age);
    report(Severity::warning, path, 0,
           "lock file, unchanged for %s: dropgroup waits until it is gone "
           "(dropgroup(8) says when it may be removed)",
           age);
}

void check_locks()
{
    if (access(config_directory, W_OK | X_OK) != 0)
        report(Severity::error, config_directory, 0,
               "dropgroup cannot create its lock files here: %s", strerror(errno));
    check_lock_file(path_active_new);
    check_lock_file(path_newsgroups_new);
}
