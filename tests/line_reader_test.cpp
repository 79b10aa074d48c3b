#include "line_reader.h"
#include "temp_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// What read_line yields for a file: the lines it accepted, then how it ended.
struct Reading {
    std::vector<std::string> lines;
    ReadOutcome last;
    LongLine why_long;
    bool failed;
};

Reading read_all(int fd)
{
    auto reader = std::make_unique<LineReader>();
    start_line_reader(*reader, fd);
    Reading reading{{}, ReadOutcome::end_of_input, LongLine::too_long, false};
    while ((reading.last = read_line(*reader)) == ReadOutcome::line) {
        EXPECT_EQ(reader->line[reader->length], '\0');
        reading.lines.emplace_back(reader->line, reader->length);
    }
    reading.why_long = reader->why_long;
    reading.failed = read_failed(*reader);
    return reading;
}

Reading read_all(const std::string& contents)
{
    int fd = file_holding(contents);
    Reading reading = read_all(fd);
    close(fd);
    return reading;
}

// Whole lines of exactly size bytes in all, so that what follows them
// starts at that offset of the file.
std::vector<std::string> filler(size_t size)
{
    std::vector<std::string> lines;
    for (; size > 0; size -= lines.back().size())
        lines.push_back(std::string(std::min<size_t>(size, 1000) - 1, 'f') + "\n");
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line;
    return text;
}

struct LineCase {
    const char* what;
    size_t offset;  // where the case's text starts, after filler lines
    std::string text;
    std::vector<std::string> lines;  // accepted of the text
    ReadOutcome last;
    LongLine why_long;  // when last is long_line
};

TEST(LineReader, LimitsAndBlockBoundaries)
{
    const std::string longest(longest_line, 'x');
    const std::string nul("\0", 1);
    const size_t block = read_block_size;
    const auto end = ReadOutcome::end_of_input;
    const auto long_line = ReadOutcome::long_line;
    const LineCase cases[] = {
        {"empty file", 0, "", {}, end, {}},
        {"two lines", 0, "a\nb\n", {"a\n", "b\n"}, end, {}},
        {"empty line", 0, "\n", {"\n"}, end, {}},
        {"1022 bytes", 0, longest + "\n", {longest + "\n"}, end, {}},
        {"1023 bytes", 0, longest + "y\n", {}, long_line, LongLine::too_long},
        {"last line without line feed", 0, "a\nb", {"a\n"}, long_line, LongLine::no_line_feed},
        {"NUL byte", 0, "a\nb" + nul + "c\n", {"a\n"}, long_line, LongLine::nul_byte},
        {"carriage return kept", 0, "a\r\n", {"a\r\n"}, end, {}},
        {"a line split across two reads", block - 10, "comp.lang.c 1 2 y\n" + std::string("b\n"),
         {"comp.lang.c 1 2 y\n", "b\n"}, end, {}},
        {"the longest line ending at the end of a block", block - longest_line - 1,
         longest + "\nnext\n", {longest + "\n", "next\n"}, end, {}},
        {"the longest line across two blocks", block - 100, longest + "\nnext\n",
         {longest + "\n", "next\n"}, end, {}},
        {"the longest line starting a block", block, longest + "\n", {longest + "\n"}, end, {}},
        {"1023 bytes across two blocks", block - 100, longest + "y\n", {}, long_line,
         LongLine::too_long},
        {"a NUL byte in the second block", block - 5, "abcdefgh" + nul + "\n", {}, long_line,
         LongLine::nul_byte},
        {"a NUL byte in a later line of the second block", block - 5, "ab\nc\nd" + nul + "\n",
         {"ab\n", "c\n"}, long_line, LongLine::nul_byte},
        {"a file ending at the end of a block without its line feed", block - 4, "abcd", {},
         long_line, LongLine::no_line_feed},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> expected = filler(c.offset);
        Reading reading = read_all(joined(expected) + c.text);
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        EXPECT_EQ(reading.lines, expected);
        EXPECT_EQ(reading.last, c.last);
        if (c.last == long_line) {
            EXPECT_EQ(reading.why_long, c.why_long);
        }
        EXPECT_FALSE(reading.failed);
    }
}

TEST(LineReader, ReadErrorEndsInputAndIsReported)
{
    int fd = open(".", O_RDONLY | O_CLOEXEC);  // a directory: reading it fails
    ASSERT_GE(fd, 0);
    Reading reading = read_all(fd);
    EXPECT_TRUE(reading.lines.empty());
    EXPECT_EQ(reading.last, ReadOutcome::end_of_input);
    EXPECT_TRUE(reading.failed);
    close(fd);
}

}  // namespace
