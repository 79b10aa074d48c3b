// Output gathered in one large buffer and written out in large writes.
#pragma once

#include <cstddef>

constexpr size_t output_block_size = size_t{128} * 1024;

// The room a writer may ask for at once: more than any line.
constexpr size_t output_reserve_max = 4096;

struct OutputBuffer {
    int fd;
    size_t used;
    int error;  // the errno of the first failed write; 0 while none failed
    char data[output_block_size];
};

// Writes all the bytes to fd; a write cut short goes on with the rest,
// which then fails with the reason. False with errno set.
bool write_all(int fd, const char* data, size_t size);

// Makes the buffer ready to write to fd.
void start_output(OutputBuffer& out, int fd);

// Room for size bytes (at most output_reserve_max) at the end of the
// buffer, writing out what it holds first when it lacks the room. The
// writer fills what it needs and then calls commit_output. nullptr once a
// write has failed: nothing more is written.
char* reserve_output(OutputBuffer& out, size_t size);

// Counts the size bytes just filled at reserve_output's pointer as output.
inline void commit_output(OutputBuffer& out, size_t size)
{
    out.used += size;
}

// Appends the bytes; false once a write has failed (out.error tells why).
bool put_output(OutputBuffer& out, const char* bytes, size_t size);

// Appends a line of length bytes (at most output_reserve_max) as it was
// read, with the separator that a parser cut to a NUL at cut put back.
// False once a write has failed.
bool put_line_as_read(OutputBuffer& out, const char* line, size_t length, const char* cut,
                      char separator);

// Writes out what the buffer holds. False with errno set to out.error
// when this or an earlier write failed.
bool flush_output(OutputBuffer& out);
