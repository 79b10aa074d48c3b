// Keeping and reporting the errno of a failed call.
#pragma once

#include <cerrno>
#include <cstdio>

// Keeps errno across clean-up on a failure path: the clean-up's own calls
// may change it, and the report must name the failure's cause.
struct ErrnoGuard {
    int saved = errno;
    ErrnoGuard() = default;
    ErrnoGuard(const ErrnoGuard&) = delete;
    ErrnoGuard& operator=(const ErrnoGuard&) = delete;
    ~ErrnoGuard() { errno = saved; }
};

// Writes what perror writes for the error code, with the prefix.
inline void report_error(const char* prefix, int error)
{
    errno = error;
    perror(prefix);
}
