#include "queue_file.h"

#include "startup.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Closes a descriptor on a failure path without losing the failure's errno.
static void close_keeping_errno(int fd)
{
    int saved_errno = errno;
    close(fd);
    errno = saved_errno;
}

// Opens the queue file for appending, creating it 0644 when missing, and
// waits without limit for an exclusive lock on it. Returns the descriptor,
// or -1 with errno set. The descriptor also reads, for the end of the file
// that cut_unfinished_line looks at.
static int open_locked(const char* path)
{
    int fd = open(path, O_RDWR | O_APPEND | O_CREAT, 0644);
    if (fd < 0)
        return -1;
    int locked;
    while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        close_keeping_errno(fd);
        return -1;
    }
    return fd;
}

// The size of the open file, or -1 with errno set.
static off_t file_size(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 ? st.st_size : -1;
}

// The offset just after the last line feed before end, 0 when there is
// none, or -1 with errno set when the file cannot be read.
static off_t end_of_last_line(int fd, off_t end)
{
    char chunk[512];
    const off_t chunk_size = sizeof chunk;
    while (end > 0) {
        off_t start = end > chunk_size ? end - chunk_size : 0;
        ssize_t got = pread(fd, chunk, static_cast<size_t>(end - start), start);
        if (got != end - start) {
            if (got >= 0)
                errno = EIO;  // the file is shorter than it was a moment ago
            return -1;
        }
        for (ssize_t i = got; i > 0; --i) {
            if (chunk[i - 1] == '\n')
                return start + i;
        }
        end = start;
    }
    return 0;
}

// A run that was killed while it wrote its line may have left the start of
// the line without its line feed: the system can stop a write between two
// pages of the file. Cuts such a piece off, so that this run's line does
// not continue it; size becomes the size after the cut. Returns false with
// errno set.
static bool cut_unfinished_line(int fd, off_t& size)
{
    off_t end = end_of_last_line(fd, size);
    if (end < 0)
        return false;
    if (end != size && ftruncate(fd, end) != 0)
        return false;
    size = end;
    return true;
}

// The stream buffer for a line: room for the whole line and its line feed,
// so that the stream hands it to the system in a single write. Never below
// BUFSIZ, since some stdio implementations write strings that are long for
// a small buffer around it, in pieces.
static size_t line_buffer_size(const char* line)
{
    return std::max<size_t>(strlen(line) + 1, BUFSIZ);
}

// Makes a fully buffered stream over a second descriptor of the locked
// file. The lock belongs to the open file that both descriptors share, so
// it outlasts the stream's close and covers the cutting back of a failed
// line. Returns nullptr with errno set.
static FILE* open_line_stream(int fd, char* buffer, size_t size)
{
    int stream_fd = dup(fd);
    if (stream_fd < 0)
        return nullptr;
    FILE* stream = fdopen(stream_fd, "a");
    if (stream == nullptr) {
        close_keeping_errno(stream_fd);
        return nullptr;
    }
    if (setvbuf(stream, buffer, _IOFBF, size) != 0) {
        // The stream's own buffer writes the same bytes, in more calls.
    }
    return stream;
}

// Writes the line and its line feed and closes the stream, which it does
// in every case. Returns 0, or the error number of the first step that
// failed.
static int write_line(FILE* stream, const char* line)
{
    int error = 0;
    if (fputs(line, stream) == EOF || fputc('\n', stream) == EOF || fflush(stream) == EOF)
        error = errno;
    if (fclose(stream) != 0 && error == 0)
        error = errno;
    return error;
}

// Cuts the file back to its size before the failed line, so that the next
// line is not glued onto a piece of this one, then reports the write
// failure and, after it, a failure to cut.
static void undo_failed_line(const char* path, int fd, off_t size_before, int error)
{
    bool cut = ftruncate(fd, size_before) == 0;
    int cut_error = errno;
    errno = error;
    perror(path);
    if (!cut) {
        errno = cut_error;
        perror(path);
    }
}

// Appends the line through a stream that uses buffer; reports failures.
static bool append_locked(const char* path, const char* line, char* buffer, size_t size)
{
    int fd = open_locked(path);
    if (fd < 0) {
        perror(path);
        return false;
    }
    off_t size_before = file_size(fd);
    bool ready = size_before >= 0 && cut_unfinished_line(fd, size_before);
    FILE* stream = ready ? open_line_stream(fd, buffer, size) : nullptr;
    if (stream == nullptr) {
        perror(path);
        close(fd);
        return false;
    }
    int error = write_line(stream, line);
    if (error != 0) {
        undo_failed_line(path, fd, size_before, error);
        close(fd);
        return false;
    }
    // This close releases the lock.
    if (close(fd) != 0) {
        perror(path);
        return false;
    }
    return true;
}

bool append_queue_line(const char* path, const char* line)
{
    size_t size = line_buffer_size(line);
    char* buffer = static_cast<char*>(malloc(size));
    if (buffer == nullptr) {
        perror(program_name());
        return false;
    }
    bool appended = append_locked(path, line, buffer, size);
    free(buffer);
    return appended;
}
