#include "file_lease.h"

#include "error_text.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

FileLease::FileLease(const std::string& path)
{
#ifdef F_SETLEASE
    // The system tells the holder of a lease that an open waits by a
    // signal, SIGIO unless asked otherwise, which would end this process.
    signal(SIGIO, SIG_IGN);
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ >= 0 && fcntl(fd_, F_SETLEASE, F_WRLCK) != 0) {
        why_not_ = std::string("no lease on ") + path + ": " + error_text(errno);
        close(fd_);
        fd_ = -1;
    } else if (fd_ < 0) {
        why_not_ = path + ": " + error_text(errno);
    }
#else
    why_not_ = "file leases are Linux only (" + path + ")";
#endif
}

FileLease::~FileLease()
{
    release();
}

bool FileLease::opener_waits() const
{
#ifdef F_GETLEASE
    // While an open waits, the lease shows the type it is to be lowered to.
    return fd_ >= 0 && fcntl(fd_, F_GETLEASE) != F_WRLCK;
#else
    return false;
#endif
}

void FileLease::release()
{
    if (fd_ < 0)
        return;
#ifdef F_SETLEASE
    fcntl(fd_, F_SETLEASE, F_UNLCK);
#endif
    close(fd_);
    fd_ = -1;
}
