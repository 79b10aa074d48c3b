#include "replacement_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

static const int cleanup_signals[] = {SIGHUP, SIGINT, SIGTERM};

// The replacement file this run created and has not yet renamed or removed.
// It changes only while the signals are blocked, so the handler never sees
// it half-way and never removes a file that another run has created since.
static const char* volatile held_path = nullptr;

static void remove_held_and_die(int signal_number)
{
    if (held_path != nullptr)
        unlink(held_path);
    signal(signal_number, SIG_DFL);
    raise(signal_number);  // delivered, by default action, once we return
}

void install_replacement_cleanup()
{
    struct sigaction action {};
    action.sa_handler = remove_held_and_die;
    sigemptyset(&action.sa_mask);
    for (int s : cleanup_signals)
        sigaddset(&action.sa_mask, s);
    for (int s : cleanup_signals) {
        struct sigaction previous {};
        sigaction(s, &action, &previous);
        if (previous.sa_handler == SIG_IGN)
            sigaction(s, &previous, nullptr);
    }
}

// Blocks the cleanup signals; the previous mask goes to saved.
static void block_cleanup_signals(sigset_t& saved)
{
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : cleanup_signals)
        sigaddset(&blocked, s);
    sigprocmask(SIG_BLOCK, &blocked, &saved);
}

// Restores the signal mask and leaves errno as it was.
static void restore_signals(const sigset_t& saved)
{
    int saved_errno = errno;
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    errno = saved_errno;
}

int lock_replacement(const char* path)
{
    for (;;) {
        sigset_t saved;
        block_cleanup_signals(saved);
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0)
            held_path = path;
        restore_signals(saved);
        if (fd >= 0 || errno != EEXIST)
            return fd;
        sleep(1);
    }
}

bool commit_replacement(const char* path, const char* target)
{
    sigset_t saved;
    block_cleanup_signals(saved);
    bool renamed = rename(path, target) == 0;
    if (renamed)
        held_path = nullptr;
    restore_signals(saved);
    return renamed;
}

bool discard_replacement(const char* path)
{
    sigset_t saved;
    block_cleanup_signals(saved);
    bool removed = unlink(path) == 0;
    held_path = nullptr;
    restore_signals(saved);
    return removed;
}

bool sync_directory(const char* path)
{
    int fd = open(path, O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    bool synced = fsync(fd) == 0;
    int saved_errno = errno;
    close(fd);
    errno = saved_errno;
    return synced;
}
