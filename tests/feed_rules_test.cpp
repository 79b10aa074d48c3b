#include "error_text.h"
#include "feed_rules.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Rule = std::pair<std::string, std::string>;  // feed name, pattern

const std::string long_line = "kestro/newsfeeds: long line\n";
const std::string malformed_line = "kestro/newsfeeds: malformed line\n";

// What a loader returned, copied out of its list (nullopt when it failed),
// and what it wrote on standard error.
template <typename Item>
struct Loaded {
    std::optional<std::vector<Item>> items;
    std::string errors;
};

// Runs load_feed_rules and collects its result.
Loaded<Rule> load_rules()
{
    testing::internal::CaptureStderr();
    std::optional<FeedRule*> list = load_feed_rules();
    Loaded<Rule> loaded{std::nullopt, testing::internal::GetCapturedStderr()};
    if (list) {
        loaded.items.emplace();
        for (const FeedRule* rule = *list; rule != nullptr; rule = rule->next)
            loaded.items->emplace_back(rule->feed_name, rule->pattern);
        free_feed_rules(*list);
    }
    return loaded;
}

// Runs load_feed_patterns for one feed and collects its result.
Loaded<std::string> load_patterns(const char* feed_name)
{
    testing::internal::CaptureStderr();
    std::optional<FeedPattern*> list = load_feed_patterns(feed_name);
    Loaded<std::string> loaded{std::nullopt, testing::internal::GetCapturedStderr()};
    if (list) {
        loaded.items.emplace();
        for (const FeedPattern* record = *list; record != nullptr; record = record->next)
            loaded.items->emplace_back(record->pattern);
        free_feed_patterns(*list);
    }
    return loaded;
}

// Each case works in a folder of its own: the loaders read the relative
// path kestro/newsfeeds.
class FeedRules : public testing::Test {
protected:
    void SetUp() override
    {
        char cwd[PATH_MAX];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        old_cwd_ = cwd;
        ASSERT_EQ(chdir(scratch_.path().c_str()), 0);
    }
    void TearDown() override { EXPECT_EQ(chdir(old_cwd_.c_str()), 0); }

    void write_newsfeeds(const std::string& contents) { scratch_.write("kestro/newsfeeds", contents); }

    ScratchDir scratch_;
    std::string old_cwd_;
};

struct RulesCase {
    const char* what;
    std::string contents;
    std::optional<std::vector<Rule>> rules;  // nullopt: the loading fails
    std::string errors;
};

struct PatternsCase {
    const char* what;
    std::string contents;
    const char* feed_name;
    std::optional<std::vector<std::string>> patterns;  // nullopt: the loading fails
    std::string errors;
};

}  // namespace

TEST_F(FeedRules, LineRules)
{
    const std::string name_1021(1021, 'f');
    const RulesCase cases[] = {
        {"empty file", "", std::vector<Rule>{}, ""},
        {"empty and comment lines only", "\n# a comment\n#up\tcomp.*\n\n", std::vector<Rule>{}, ""},
        {"rules in file order, duplicates kept",
         "b\ty\n# between\n\na\tx\nb\ty\na\tz\n",
         std::vector<Rule>{{"b", "y"}, {"a", "x"}, {"b", "y"}, {"a", "z"}}, ""},
        {"only a tab", "\t\n", std::vector<Rule>{{"", ""}}, ""},
        {"empty feed name", "\tcomp.*\n", std::vector<Rule>{{"", "comp.*"}}, ""},
        {"empty pattern", "up\t\n", std::vector<Rule>{{"up", ""}}, ""},
        {"comment right after the tab", "up\t# none\n", std::vector<Rule>{{"up", ""}}, ""},
        {"second tab belongs to the pattern", "up\ta\tb\n", std::vector<Rule>{{"up", "a\tb"}}, ""},
        {"blank and tab before a comment kept", "up\tcomp.* \t# c\n",
         std::vector<Rule>{{"up", "comp.* \t"}}, ""},
        {"comment cut at the first #", "up\ta#b#c\n", std::vector<Rule>{{"up", "a"}}, ""},
        {"carriage return kept", "up\tcomp.*\r\n", std::vector<Rule>{{"up", "comp.*\r"}}, ""},
        {"blank in the feed name", " my feed \tx\n", std::vector<Rule>{{" my feed ", "x"}}, ""},
        {"1022-byte line", name_1021 + "\t\n", std::vector<Rule>{{name_1021, ""}}, ""},
        {"1023-byte line", "up\tx\n" + name_1021 + "f\t\n", std::nullopt, long_line},
        {"last line without line feed", "up\tx\nup\ty", std::nullopt, long_line},
        {"NUL byte in a line", std::string("up\ta\0b\n", 7), std::nullopt, long_line},
        {"line of blanks", "up\tx\n   \n", std::nullopt, malformed_line},
        {"blanks before a comment", "  # c\n", std::nullopt, malformed_line},
        {"# before the first tab", "up#\tx\n", std::nullopt, malformed_line},
        {"no tab", "up comp.*\n", std::nullopt, malformed_line},
        {"carriage return alone", "\r\n", std::nullopt, malformed_line},
        {"stops at the first bad line", "up\tx\nbad\nalso bad\n", std::nullopt, malformed_line},
    };
    for (const RulesCase& c : cases) {
        SCOPED_TRACE(c.what);
        write_newsfeeds(c.contents);
        Loaded<Rule> loaded = load_rules();
        EXPECT_EQ(loaded.items, c.rules);
        EXPECT_EQ(loaded.errors, c.errors);
    }
}

TEST_F(FeedRules, PatternsOfOneFeed)
{
    const std::string other_long = "other\t" + std::string(1100, 'x') + "\n";
    const PatternsCase cases[] = {
        {"exact byte comparison of the feed name",
         "up\ta\nupstream\tb\nu\tc\nUP\td\nup \te\n up\tf\nup\tg\n", "up",
         std::vector<std::string>{"a", "g"}, ""},
        {"empty name selects lines that begin with a tab", "\ta\nup\tb\n\tc\n", "",
         std::vector<std::string>{"a", "c"}, ""},
        {"blank in the feed name", "my feed\tx\nmy\ty\nfeed\tz\n", "my feed",
         std::vector<std::string>{"x"}, ""},
        {"duplicates kept in order", "up\ta\nother\tb\nup\ta\nup\tc\n", "up",
         std::vector<std::string>{"a", "a", "c"}, ""},
        {"pattern with tab, blank and carriage return", "up\ta\tb #c\nup\tc\r\n", "up",
         std::vector<std::string>{"a\tb ", "c\r"}, ""},
        {"no rule of the feed", "other\tx\n# up\ty\n", "up", std::vector<std::string>{}, ""},
        {"long line of another feed after the last rule", "up\ta\n" + other_long, "up",
         std::nullopt, long_line},
        {"malformed line of another feed after the last rule", "up\ta\nother x\n", "up",
         std::nullopt, malformed_line},
        {"unfinished last line of another feed", "up\ta\nother\tx", "up", std::nullopt, long_line},
        {"malformed line before the feed's rules", "other\nup\ta\n", "up", std::nullopt,
         malformed_line},
    };
    for (const PatternsCase& c : cases) {
        SCOPED_TRACE(c.what);
        write_newsfeeds(c.contents);
        Loaded<std::string> loaded = load_patterns(c.feed_name);
        EXPECT_EQ(loaded.items, c.patterns);
        EXPECT_EQ(loaded.errors, c.errors);
    }
}

// A newsfeeds that cannot be read fails both loaders with the system's
// report. A directory opens but every read fails: a loader must not take
// that as the end of the file and return the rules read so far.
TEST_F(FeedRules, UnreadableFileFails)
{
    struct Case {
        const char* what;
        bool make_directory;
        std::string report;
    };
    const Case cases[] = {
        {"missing file", false, system_error("kestro/newsfeeds", ENOENT)},
        {"read error", true, system_error("kestro/newsfeeds", EISDIR)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.make_directory)
            scratch_.make_dir("kestro/newsfeeds");

        Loaded<Rule> rules = load_rules();
        EXPECT_EQ(rules.items, std::nullopt);
        EXPECT_EQ(rules.errors, c.report);

        Loaded<std::string> patterns = load_patterns("up");
        EXPECT_EQ(patterns.items, std::nullopt);
        EXPECT_EQ(patterns.errors, c.report);
    }
}
