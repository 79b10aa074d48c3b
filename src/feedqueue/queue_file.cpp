#include "queue_file.h"

#include "errors.h"
#include "output_buffer.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// A queue file opened and locked: its descriptor, its state under the
// lock, and whether the descriptor may read.
struct LockedQueue {
    int fd;
    struct stat st;
    bool can_read;
};

// Closes a descriptor on a failure path without losing the failure's errno.
static void close_keeping_errno(int fd)
{
    ErrnoGuard keep;
    close(fd);
}

// Opens the queue file for appending, creating it 0644 when missing. It is
// opened for reading too, to look at its last byte, unless write_only is
// asked for or the file may only be written. Returns the descriptor, or -1
// with errno set.
static int open_queue(const char* path, bool write_only, bool& can_read)
{
    can_read = !write_only;
    if (can_read) {
        int fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EACCES)
            return fd;
        can_read = false;
    }
    return open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

// Waits without limit for an exclusive lock; an interrupted wait is taken
// up again. False with errno set.
static bool lock_exclusive(int fd)
{
    int locked;
    while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    return locked == 0;
}

// 1 when path names the file of st, 0 when it names another file or none,
// -1 with errno set when that cannot be told.
static int path_names(const char* path, const struct stat& st)
{
    struct stat now;
    if (stat(path, &now) != 0)
        return errno == ENOENT ? 0 : -1;
    return now.st_dev == st.st_dev && now.st_ino == st.st_ino ? 1 : 0;
}

// Opens and locks the file that path names once the lock is ours. A
// consumer drains a queue by renaming or removing it under the lock, and
// a run that opened it before must not write into the file taken away:
// it starts again with the file now at the path. A FIFO is written only,
// so that the run waits for a reader as a FIFO's writer does. False with
// errno set.
static bool open_locked(const char* path, LockedQueue& queue)
{
    bool write_only = false;
    for (;;) {
        queue.fd = open_queue(path, write_only, queue.can_read);
        if (queue.fd < 0)
            return false;
        if (!lock_exclusive(queue.fd) || fstat(queue.fd, &queue.st) != 0) {
            close_keeping_errno(queue.fd);
            return false;
        }
        if (S_ISFIFO(queue.st.st_mode) && queue.can_read) {
            close(queue.fd);
            write_only = true;
            continue;
        }
        int same = path_names(path, queue.st);
        if (same > 0)
            return true;
        close_keeping_errno(queue.fd);
        if (same < 0)
            return false;
        write_only = false;
    }
}

// 1 when the file's last byte is not a line feed, so that another
// writer's unfinished line must be ended before this one; 0 when it is,
// when the file is empty, and when it cannot be looked at (a FIFO, or a
// file the account may only write). -1 with errno set.
static int needs_line_feed(const LockedQueue& queue)
{
    if (!queue.can_read || !S_ISREG(queue.st.st_mode) || queue.st.st_size == 0)
        return 0;
    char last;
    ssize_t got = pread(queue.fd, &last, 1, queue.st.st_size - 1);
    if (got < 0)
        return -1;
    return got == 1 && last != '\n' ? 1 : 0;
}

// Takes back what this run's failed write added to a regular file, under
// the lock still held, so that no piece of the line stays behind. False
// with errno set.
static bool take_back_line(const LockedQueue& queue)
{
    return !S_ISREG(queue.st.st_mode) || ftruncate(queue.fd, queue.st.st_size) == 0;
}

bool append_queue_line(const char* path, const QueueLine& line)
{
    LockedQueue queue;
    if (!open_locked(path, queue)) {
        perror(path);
        return false;
    }
    int ending = needs_line_feed(queue);
    if (ending < 0) {
        perror(path);
        close(queue.fd);
        return false;
    }
    size_t skip = ending > 0 ? 0 : 1;
    if (!write_all(queue.fd, line.text + skip, line.size - skip)) {
        int write_error = errno;
        int undo_error = take_back_line(queue) ? 0 : errno;
        report_error(path, write_error);
        if (undo_error != 0)
            report_error(path, undo_error);
        close(queue.fd);
        return false;
    }
    // This close releases the lock.
    if (close(queue.fd) != 0) {
        perror(path);
        return false;
    }
    return true;
}
