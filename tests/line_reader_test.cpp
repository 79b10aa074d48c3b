#include "line_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

// What read_line yields for a stream: the lines it accepted, then how it ended.
struct Reading {
    std::vector<std::string> lines;
    ReadOutcome last;
};

static Reading read_all(const std::string& contents)
{
    FILE* stream = fmemopen(const_cast<char*>(contents.data()), contents.size(), "r");
    if (contents.empty())
        stream = fopen("/dev/null", "r");
    LineReader reader{stream, {}};
    Reading reading{{}, ReadOutcome::end_of_input};
    while ((reading.last = read_line(reader)) == ReadOutcome::line)
        reading.lines.emplace_back(reader.buffer);
    fclose(stream);
    return reading;
}

struct LineCase {
    const char* what;
    std::string contents;
    std::vector<std::string> lines;
    ReadOutcome last;
};

TEST(LineReader, Limits)
{
    const std::string longest(1022, 'x');
    const LineCase cases[] = {
        {"empty file", "", {}, ReadOutcome::end_of_input},
        {"two lines", "a\nb\n", {"a\n", "b\n"}, ReadOutcome::end_of_input},
        {"empty line", "\n", {"\n"}, ReadOutcome::end_of_input},
        {"1022 bytes", longest + "\n", {longest + "\n"}, ReadOutcome::end_of_input},
        {"1023 bytes", longest + "y\n", {}, ReadOutcome::long_line},
        {"last line without line feed", "a\nb", {"a\n"}, ReadOutcome::long_line},
        {"NUL byte", std::string("a\nb\0c\n", 6), {"a\n"}, ReadOutcome::long_line},
        {"carriage return kept", "a\r\n", {"a\r\n"}, ReadOutcome::end_of_input},
    };
    for (const LineCase& c : cases) {
        Reading reading = read_all(c.contents);
        EXPECT_EQ(reading.lines, c.lines) << c.what;
        EXPECT_EQ(reading.last, c.last) << c.what;
    }
}

TEST(LineReader, ReadErrorEndsInputAndIsReported)
{
    FILE* stream = fopen(".", "r");  // a directory: reading it fails
    ASSERT_NE(stream, nullptr);
    LineReader reader{stream, {}};
    EXPECT_EQ(read_line(reader), ReadOutcome::end_of_input);
    EXPECT_TRUE(read_failed(reader));
    fclose(stream);
}

TEST(LineReader, EndOfFileIsNoFailure)
{
    FILE* stream = fopen("/dev/null", "r");
    LineReader reader{stream, {}};
    EXPECT_EQ(read_line(reader), ReadOutcome::end_of_input);
    EXPECT_FALSE(read_failed(reader));
    fclose(stream);
}
