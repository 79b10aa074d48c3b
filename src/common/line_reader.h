// Line-by-line reading of a configuration file, in large blocks.
#pragma once

#include <cstddef>

// The longest line accepted: this many bytes before its line feed.
constexpr size_t longest_line = 1022;

// How much is read from the file at a time.
constexpr size_t read_block_size = size_t{128} * 1024;

enum class ReadOutcome { line, end_of_input, long_line };

// Why a line was a long line.
enum class LongLine { too_long, no_line_feed, nul_byte };

// The caller opens the file, hands its descriptor to start_line_reader,
// closes it when done and keeps its path for its messages. The reader
// holds its own block buffer, so reading takes constant memory.
struct LineReader {
    int fd;
    char* line;         // the current line: its bytes, its line feed, a NUL
    size_t length;      // of the current line, its line feed included
    LongLine why_long;  // after the outcome long_line
    size_t start;       // the unread bytes are block[start, end)
    size_t end;
    size_t first_nul;   // where the block's first NUL byte is; end when none
    char covered;       // the byte that the NUL after the line stands on
    bool at_end;        // the file has no more bytes
    int error;          // the errno of a failed read; 0 while none failed
    char block[read_block_size + 1];
};

// Makes the reader ready to read the open file fd from where it stands.
void start_line_reader(LineReader& reader, int fd);

// Reads the next line. A line ends in its only line feed, with a NUL after
// it; it lies in the reader's block and stays valid until the next call.
// A line with no line feed within 1023 bytes (too long, last in the file
// without one, or holding a NUL byte) is a long line. A read error ends
// the input, and the bytes of an unfinished line are dropped.
ReadOutcome read_line(LineReader& reader);

// True when a read failed; then the input ended there, and reader.error
// tells why.
bool read_failed(const LineReader& reader);
