// Small helpers shared by the fuzz targets.
#pragma once

#include "line_reader.h"
#include "output_buffer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

// Stops the run with the failed condition when an invariant does not hold;
// libFuzzer then keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                  \
    do {                                                                       \
        if (!(condition)) {                                                    \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,  \
                    #condition);                                               \
            abort();                                                           \
        }                                                                      \
    } while (0)

// A file in memory holding the bytes, open at its start (Linux).
inline int memory_file(const void* data, size_t size)
{
    int fd = memfd_create("fuzz", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(write(fd, data, size) == static_cast<ssize_t>(size));
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    return fd;
}

// Everything an open file holds, from its start.
inline std::string file_text(int fd)
{
    std::string text;
    char buffer[4096];
    ssize_t got;
    for (off_t at = 0; (got = pread(fd, buffer, sizeof buffer, at)) > 0; at += got)
        text.append(buffer, static_cast<size_t>(got));
    return text;
}

// The reader and the output buffer are large: one of each for the process.
inline LineReader fuzz_reader;
inline OutputBuffer fuzz_output;

// Reads the input as a configuration file through LineReader and hands each
// line to check_line (a writable copy, as the parsers cut lines in place),
// after checking what the reader promises of a line: its only line feed is
// its last byte, it holds no NUL, and at most 1022 bytes come before the line
// feed. Stops at the first long line, as every reader does.
template <typename CheckLine>
void for_each_line(const uint8_t* data, size_t size, CheckLine check_line)
{
    int fd = memory_file(data, size);
    start_line_reader(fuzz_reader, fd);
    while (read_line(fuzz_reader) == ReadOutcome::line) {
        size_t length = fuzz_reader.length;
        const char* line = fuzz_reader.line;
        FUZZ_CHECK(length >= 1 && length <= 1023 && strlen(line) == length);
        FUZZ_CHECK(line[length - 1] == '\n');
        FUZZ_CHECK(memchr(line, '\n', length - 1) == nullptr);
        std::string copy(line, length);
        check_line(copy);
    }
    close(fd);
}

// What a writer puts into an output buffer, as a string.
template <typename Write>
std::string written_by(Write write)
{
    int fd = memory_file("", 0);
    start_output(fuzz_output, fd);
    write(fuzz_output);
    FUZZ_CHECK(flush_output(fuzz_output));
    std::string result = file_text(fd);
    close(fd);
    return result;
}
