/*
 * The least a safe append of one line to a shared queue file needs, line
 * after line: the floor that feedqueue is measured against.
 *
 * For each line: open the queue for reading and appending (created 0644),
 * take the exclusive flock, fstat the descriptor and stat the path to make
 * sure the path still names the locked file (another process may have
 * renamed the queue away while this one waited), read the last byte to see
 * whether an unfinished line must be ended first, write the whole line in
 * one write(2), close. No rule is matched: the queue is given.
 *
 * Usage: append_floor QUEUE LINE...
 * Exits 0 when every line is whole in the queue, 1 on the first failure.
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

/* Opens and locks the file that path names once the lock is held, and
 * fills st with its state under the lock. Returns the descriptor, or -1. */
static int open_locked(const char *path, struct stat *st)
{
    for (;;) {
        struct stat now;
        int fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return -1;
        if (flock(fd, LOCK_EX) != 0 || fstat(fd, st) != 0 || stat(path, &now) != 0) {
            close(fd);
            return -1;
        }
        if (now.st_dev == st->st_dev && now.st_ino == st->st_ino)
            return fd;
        /* The queue was taken away while this run waited: start again. */
        close(fd);
    }
}

/* Appends "\nLINE\n" from buf, leaving out the leading line feed unless
 * the file ends in an unfinished line. 0 on success, -1 on failure. */
static int append_line(const char *path, const char *buf, size_t size)
{
    struct stat st;
    char last = '\n';
    int fd = open_locked(path, &st);
    if (fd < 0)
        return -1;
    if (st.st_size > 0 && pread(fd, &last, 1, st.st_size - 1) != 1) {
        close(fd);
        return -1;
    }
    size_t skip = last == '\n' ? 1 : 0;
    ssize_t wrote = write(fd, buf + skip, size - skip);
    if (wrote < 0 || (size_t)wrote != size - skip) {
        close(fd);
        return -1;
    }
    return close(fd);
}

int main(int argc, char *argv[])
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s QUEUE LINE...\n", argv[0]);
        return 2;
    }
    const char *queue = argv[1];
    size_t longest = 0;
    for (int i = 2; i < argc; ++i) {
        size_t length = strlen(argv[i]);
        if (length > longest)
            longest = length;
    }
    /* One buffer for every line, made once: "\n", the line, "\n". */
    char *buf = malloc(longest + 2);
    if (buf == NULL) {
        perror(argv[0]);
        return 1;
    }
    buf[0] = '\n';
    for (int i = 2; i < argc; ++i) {
        size_t length = strlen(argv[i]);
        memcpy(buf + 1, argv[i], length);
        buf[length + 1] = '\n';
        if (append_line(queue, buf, length + 2) != 0) {
            perror(queue);
            free(buf);
            return 1;
        }
    }
    free(buf);
    return 0;
}
