#include "output_buffer.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

void start_output(OutputBuffer& out, int fd)
{
    out.fd = fd;
    out.used = 0;
    out.error = 0;
}

bool write_all(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Writes out the buffer, noting the first failure; false after one.
static bool drain(OutputBuffer& out)
{
    if (out.error == 0 && out.used > 0 && !write_all(out.fd, out.data, out.used))
        out.error = errno;
    out.used = 0;
    return out.error == 0;
}

char* reserve_output(OutputBuffer& out, size_t size)
{
    if (out.used + size > sizeof out.data && !drain(out))
        return nullptr;
    return out.error == 0 ? out.data + out.used : nullptr;
}

bool put_output(OutputBuffer& out, const char* bytes, size_t size)
{
    while (size > 0 && out.error == 0) {
        if (out.used == sizeof out.data && !drain(out))
            break;
        size_t room = sizeof out.data - out.used;
        size_t part = size < room ? size : room;
        memcpy(out.data + out.used, bytes, part);
        out.used += part;
        bytes += part;
        size -= part;
    }
    return out.error == 0;
}

bool put_line_as_read(OutputBuffer& out, const char* line, size_t length, const char* cut,
                      char separator)
{
    char* p = reserve_output(out, length);
    if (p == nullptr)
        return false;
    memcpy(p, line, length);
    p[cut - line] = separator;
    commit_output(out, length);
    return true;
}

bool flush_output(OutputBuffer& out)
{
    if (drain(out))
        return true;
    errno = out.error;
    return false;
}
