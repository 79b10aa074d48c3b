#include "replacement_file.h"

#include "errors.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The signals whose default action ends the process and that a handler
// may catch. SIGXFSZ is not among them: the programs ignore it, so that a
// write past the file size limit fails as a write.
static const int ending_signals[] = {
    SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1, SIGSEGV,
    SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGEMT
    SIGEMT,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef __linux__
    SIGIO,  // ignored by default on the BSDs
#endif
};

// The replacement file this run created and has not yet renamed or
// removed, and its identity. They change only while the signals are
// blocked, so the handler never sees them half-way.
static const char* volatile held_path = nullptr;
static volatile dev_t held_device;
static volatile ino_t held_inode;

// The ending signals, the real-time ones included.
static sigset_t cleanup_signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : ending_signals)
        sigaddset(&set, s);
#ifdef SIGRTMIN
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
        sigaddset(&set, s);
#endif
    return set;
}

// True when path still names the file this run created. False with errno
// set otherwise: ENOENT when nothing is there, EEXIST when another file is.
// Safe to call in a signal handler.
static bool still_ours(const char* path)
{
    struct stat st;
    if (lstat(path, &st) != 0)
        return false;
    if (st.st_dev == held_device && st.st_ino == held_inode)
        return true;
    errno = EEXIST;
    return false;
}

static void remove_held_and_die(int signal_number)
{
    const char* path = held_path;
    if (path != nullptr && still_ours(path))
        unlink(path);
    signal(signal_number, SIG_DFL);
    raise(signal_number);  // delivered, by default action, once we return
}

void install_replacement_cleanup()
{
    struct sigaction action {};
    action.sa_handler = remove_held_and_die;
    action.sa_mask = cleanup_signals();
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction current {};
        if (sigismember(&action.sa_mask, s) != 1 || sigaction(s, nullptr, &current) != 0)
            continue;
        if (current.sa_handler == SIG_DFL)
            sigaction(s, &action, nullptr);
    }
}

// Blocks the cleanup signals; the previous mask goes to saved.
static void block_cleanup_signals(sigset_t& saved)
{
    sigset_t blocked = cleanup_signals();
    sigprocmask(SIG_BLOCK, &blocked, &saved);
}

// Restores the signal mask and leaves errno as it was.
static void restore_signals(const sigset_t& saved)
{
    ErrnoGuard keep;
    sigprocmask(SIG_SETMASK, &saved, nullptr);
}

// Notes the replacement file just created on fd as this run's; false with
// errno set, and the file removed again, when its identity is unknown.
static bool hold(const char* path, int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        ErrnoGuard keep;
        close(fd);
        unlink(path);
        return false;
    }
    held_device = st.st_dev;
    held_inode = st.st_ino;
    held_path = path;
    return true;
}

int lock_replacement(const char* path)
{
    for (;;) {
        sigset_t saved;
        block_cleanup_signals(saved);
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 && !hold(path, fd))
            fd = -1;
        restore_signals(saved);
        if (fd >= 0 || errno != EEXIST)
            return fd;
        sleep(1);
    }
}

Commit commit_replacement(const char* path, const char* target)
{
    sigset_t saved;
    block_cleanup_signals(saved);
    Commit result = Commit::not_ours;
    if (still_ours(path))
        result = rename(path, target) == 0 ? Commit::renamed : Commit::failed;
    if (result != Commit::failed)
        held_path = nullptr;
    restore_signals(saved);
    return result;
}

bool discard_replacement(const char* path)
{
    sigset_t saved;
    block_cleanup_signals(saved);
    bool removed = still_ours(path) && unlink(path) == 0;
    held_path = nullptr;
    restore_signals(saved);
    return removed;
}

bool sync_directory(const char* path)
{
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool synced = fsync(fd) == 0;
    ErrnoGuard keep;
    close(fd);
    return synced;
}
