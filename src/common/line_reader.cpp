#include "line_reader.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

void start_line_reader(LineReader& reader, int fd)
{
    reader.fd = fd;
    reader.line = nullptr;
    reader.length = 0;
    reader.why_long = LongLine::too_long;
    reader.start = 0;
    reader.end = 0;
    reader.first_nul = 0;
    reader.covered = '\0';
    reader.at_end = false;
    reader.error = 0;
}

// Moves the unread bytes to the front of the block and reads more after
// them. A read error ends the input and drops the unread bytes.
static void refill(LineReader& reader)
{
    size_t unread = reader.end - reader.start;
    memmove(reader.block, reader.block + reader.start, unread);
    reader.start = 0;
    reader.end = unread;
    ssize_t got;
    while ((got = read(reader.fd, reader.block + unread, read_block_size - unread)) < 0 &&
           errno == EINTR) {
    }
    if (got < 0) {
        reader.error = errno;
        reader.end = 0;
    }
    reader.at_end = got <= 0;
    if (got > 0)
        reader.end += static_cast<size_t>(got);
    // Looked for once a block rather than once a line.
    const char* nul = static_cast<const char*>(memchr(reader.block, '\0', reader.end));
    reader.first_nul = nul != nullptr ? static_cast<size_t>(nul - reader.block) : reader.end;
}

// Ends the reading with a long line for the reason given.
static ReadOutcome long_line(LineReader& reader, LongLine why)
{
    reader.why_long = why;
    return ReadOutcome::long_line;
}

// Hands out the line of the given length at the start of the unread bytes,
// with a NUL after it on the first byte of what follows, which the next
// call puts back.
static ReadOutcome take_line(LineReader& reader, size_t length)
{
    reader.line = reader.block + reader.start;
    reader.length = length;
    reader.start += length;
    reader.covered = reader.block[reader.start];
    reader.block[reader.start] = '\0';
    return ReadOutcome::line;
}

ReadOutcome read_line(LineReader& reader)
{
    if (reader.line != nullptr) {
        reader.block[reader.start] = reader.covered;
        reader.line = nullptr;
    }
    for (;;) {
        const char* unread = reader.block + reader.start;
        size_t count = reader.end - reader.start;
        size_t scanned = count < longest_line + 1 ? count : longest_line + 1;
        if (const void* feed = memchr(unread, '\n', scanned)) {
            size_t length = static_cast<size_t>(static_cast<const char*>(feed) - unread) + 1;
            if (reader.first_nul < reader.start + length)
                return long_line(reader, LongLine::nul_byte);
            return take_line(reader, length);
        }
        bool nul = reader.first_nul < reader.start + scanned;
        if (count > longest_line)
            return long_line(reader, nul ? LongLine::nul_byte : LongLine::too_long);
        if (reader.at_end) {
            if (count == 0)
                return ReadOutcome::end_of_input;
            return long_line(reader, nul ? LongLine::nul_byte : LongLine::no_line_feed);
        }
        refill(reader);
    }
}

bool read_failed(const LineReader& reader)
{
    return reader.error != 0;
}
