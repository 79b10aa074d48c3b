#include "active.h"
#include "output_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

static std::string format(const ActiveEntry& entry)
{
    return written_by([&](OutputBuffer& out) { format_active_entry(out, entry); });
}

// A line for the strict reader and what the writer makes of it; a null
// result means the line is malformed.
struct StrictCase {
    const char* line;
    const char* written;
};

TEST(ActiveFormat, StrictReadAndWriteBack)
{
    const StrictCase cases[] = {
        // normal form comes back byte for byte
        {"comp.lang.c 0000012345 0000000001 y\n", "comp.lang.c 12345 1 y\n"},
        {"comp.lang.c 12345 1 y\n", "comp.lang.c 12345 1 y\n"},
        {"a 4294967295 0 m\n", "a 4294967295 0 m\n"},
        {"a 0 0 y\n", "a 0 0 y\n"},
        {"a 00 0 y\n", "a 0 0 y\n"},
        {"a 1 2  y\n", "a 1 2 y\n"},
        {"a 1 2 \ty\n", "a 1 2 \t\n"},
        {"a 1+2 y\n", "a 1 2 y\n"},
        {"a 1 2 yy\n", "a 1 2 y\n"},
        {"a 5   y\n", "a 5 0 y\n"},
        // missing numbers are 0
        {"a  y\n", "a 0 0 y\n"},
        {"a 5 y\n", "a 5 0 y\n"},
        // white space before a number is skipped; only blanks before the flag
        {"a \t5  \t6 y\n", "a 5 6 y\n"},
        {"a 5\t6   y\n", "a 5 6 y\n"},
        {"a 5 6\ty\n", nullptr},
        // other notations: read as strtoul does, never wrapped
        {"a 0007 +5 y\n", "a 7 5 y\n"},
        {"a 4294967296 0 y\n", nullptr},
        {"a 99999999999999999999999 0 y\n", nullptr},
        {"a -1 0 y\n", nullptr},
        {"a 1 -0 y\n", nullptr},
        {"a 0x10 0 y\n", nullptr},
        // the flag and what follows it
        {"a 1 2 m more words\n", "a 1 2 m\n"},
        {"a 1 2 y\r\n", "a 1 2 y\n"},
        {"a 1 2\r\n", nullptr},
        {"a 1 2\n", nullptr},
        {"a 1 2   \n", nullptr},
        // the name
        {"a\tb 1 2 y\n", "a\tb 1 2 y\n"},
        {" a 1 2 y\n", nullptr},
        {"noblank\n", nullptr},
        {"\n", nullptr},
    };
    for (const StrictCase& c : cases) {
        SCOPED_TRACE(c.line);
        std::string buffer = c.line;
        // A line is taken for one in normal form exactly when it is
        // written back as it was read.
        size_t name_length = normal_form_name_length(buffer.data(), buffer.size());
        bool unchanged = c.written != nullptr && buffer == c.written;
        EXPECT_EQ(name_length != 0, unchanged);
        if (unchanged) {
            EXPECT_EQ(name_length, buffer.find(' '));
        }
        std::optional<ActiveEntry> entry = parse_active_entry(buffer.data());
        ASSERT_EQ(entry.has_value(), c.written != nullptr);
        if (entry) {
            EXPECT_EQ(format(*entry), c.written);
            EXPECT_EQ(active_entry_length(*entry), strlen(c.written));
        }
    }
}

TEST(ActiveFormat, StrictFields)
{
    std::string buffer = "comp.os 10 20 n\n";
    std::optional<ActiveEntry> entry = parse_active_entry(buffer.data());
    ASSERT_TRUE(entry);
    EXPECT_STREQ(entry->name, "comp.os");
    EXPECT_EQ(entry->number1, 10u);
    EXPECT_EQ(entry->number2, 20u);
    EXPECT_EQ(entry->flag, 'n');
}

// A line and the fields the loose reader gives; null name: malformed.
struct LooseCase {
    const char* line;
    const char* name;
    const char* rest;
};

TEST(ActiveFormat, LooseSplitKeepsTheLine)
{
    const LooseCase cases[] = {
        {"comp.lang.c 1 2 y\n", "comp.lang.c", "1 2 y\n"},
        {"a 1 2\n", "a", "1 2\n"},
        {"a word\n", "a", "word\n"},
        {"a \n", "a", "\n"},
        {"a\tb  x\r\n", "a\tb", " x\r\n"},
        {" a 1 2 y\n", nullptr, nullptr},
        {"noblank\n", nullptr, nullptr},
        {"\n", nullptr, nullptr},
    };
    for (const LooseCase& c : cases) {
        SCOPED_TRACE(c.line);
        std::string buffer = c.line;
        std::optional<ActiveLine> line = split_active_line(buffer.data());
        ASSERT_EQ(line.has_value(), c.name != nullptr);
        if (!line)
            continue;
        EXPECT_STREQ(line->name, c.name);
        EXPECT_STREQ(line->rest, c.rest);
        EXPECT_EQ(std::string(line->name) + " " + line->rest, c.line);
    }
}
