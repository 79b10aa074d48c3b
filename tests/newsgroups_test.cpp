#include "newsgroups.h"
#include "output_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

struct NewsgroupsCase {
    const char* line;
    bool valid;
    const char* name;
    const char* description;
};

// Each accepted line must come back from the writer byte for byte.
TEST(NewsgroupsFormat, ParseAndWriteBack)
{
    const NewsgroupsCase cases[] = {
        {"comp.lang.c\tThe C language.\n", true, "comp.lang.c", "The C language.\n"},
        {"a\t\n", true, "a", "\n"},
        {"a\tb\tc\n", true, "a", "b\tc\n"},
        {"name with blank\tx\n", true, "name with blank", "x\n"},
        {"a\tx\r\n", true, "a", "x\r\n"},
        {"\tx\n", false, nullptr, nullptr},
        {"no tab\n", false, nullptr, nullptr},
        {"\n", false, nullptr, nullptr},
    };
    for (const NewsgroupsCase& c : cases) {
        SCOPED_TRACE(c.line);
        std::string buffer = c.line;
        std::optional<NewsgroupsEntry> entry = parse_newsgroups_entry(buffer.data());
        ASSERT_EQ(entry.has_value(), c.valid);
        if (!entry)
            continue;
        EXPECT_STREQ(entry->name, c.name);
        EXPECT_STREQ(entry->description, c.description);
        EXPECT_EQ(written_by([&](OutputBuffer& out) { format_newsgroups_entry(out, *entry); }),
                  c.line);
    }
}
