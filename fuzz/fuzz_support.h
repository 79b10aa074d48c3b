// Small helpers shared by the fuzz targets.
#pragma once

#include "line_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

// Reads the input as a configuration file through LineReader and hands each
// line to check_line (a writable copy, as the parsers cut lines in place),
// after checking what the reader promises of a line: its only line feed is
// its last byte, it holds no NUL, and at most 1022 bytes come before the line
// feed. Stops at the first long line, as every reader does.
template <typename CheckLine>
void for_each_line(const uint8_t* data, size_t size, CheckLine check_line)
{
    if (size == 0)
        return;  // fmemopen refuses an empty buffer; there is no line anyway
    LineReader reader{fmemopen(const_cast<uint8_t*>(data), size, "r"), {}};
    FUZZ_CHECK(reader.stream != nullptr);
    while (read_line(reader) == ReadOutcome::line) {
        size_t length = strlen(reader.buffer);
        FUZZ_CHECK(length >= 1 && length <= 1023);
        FUZZ_CHECK(reader.buffer[length - 1] == '\n');
        FUZZ_CHECK(memchr(reader.buffer, '\n', length - 1) == nullptr);
        std::string line(reader.buffer, length);
        check_line(line);
    }
    fclose(reader.stream);
}

// What a formatter writes to a stream, as a string.
template <typename Write>
std::string written_by(Write write)
{
    char* text = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    FUZZ_CHECK(out != nullptr);
    write(out);
    FUZZ_CHECK(fclose(out) == 0);
    std::string result(text, length);
    free(text);
    return result;
}
