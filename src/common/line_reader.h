// Line-by-line reading of a configuration file through a fixed buffer.
#pragma once

#include <cstddef>
#include <cstdio>

constexpr size_t line_buffer_size = 1024;

enum class ReadOutcome { line, end_of_input, long_line };

// The caller opens the stream and keeps the file's path for its messages.
struct LineReader {
    FILE* stream;
    char buffer[line_buffer_size];
};

// Reads the next line into the buffer. A line ends in its only line feed,
// followed by a NUL byte; a line with no line feed within the buffer (too
// long, last in the file without one, or holding a NUL byte) is a long line.
// A read error ends the input as end of file does.
ReadOutcome read_line(LineReader& reader);

// True when the stream's error indicator is set.
bool read_failed(const LineReader& reader);
