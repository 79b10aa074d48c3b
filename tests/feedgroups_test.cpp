#include "error_text.h"
#include "run_program.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

// One run of feedgroups in a fresh folder: the files it finds (nullopt:
// the file does not exist), its arguments, and what it must do.
struct ListingCase {
    const char* what;
    std::optional<std::string> newsfeeds;
    std::optional<std::string> active;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

static RunResult run_case(const ListingCase& c, const std::string& stdout_path = "")
{
    ScratchDir dir;
    if (c.newsfeeds)
        dir.write("kestro/newsfeeds", *c.newsfeeds);
    if (c.active)
        dir.write("kestro/active", *c.active);
    return run_program("feedgroups", c.args, {.cwd = dir.path(), .stdout_path = stdout_path});
}

static void check_cases(const std::vector<ListingCase>& cases)
{
    for (const ListingCase& c : cases) {
        SCOPED_TRACE(c.what);
        RunResult result = run_case(c);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.exit_status, c.status);
    }
}

static const std::string sample_active =
    "misc.test 10 1 y\n"
    "comp.lang.c 120 3 y\n"
    "comp.lang 5 1 m\n"
    "comp.os.linux 77 2 y\n"
    "comp 1 1 y\n";

TEST(Feedgroups, UsageAndFeedsWithoutRules)
{
    // No file exists where the usage is checked: neither may be opened.
    const std::string usage = "Usage: " + program_path("feedgroups") + " newsfeed\n";
    check_cases({
        {"no argument", std::nullopt, std::nullopt, {}, "", usage, 1},
        {"two arguments", std::nullopt, std::nullopt, {"up", "down"}, "", usage, 1},
        {"feed not named, active missing", "other\tcomp.*\n", std::nullopt, {"up"}, "", "", 1},
        {"empty newsfeeds", "", std::nullopt, {"up"}, "", "", 1},
        {"comments and empty lines only", "# up\tcomp.*\n\n#\n", std::nullopt, {"up"}, "", "", 1},
        {"longer and differently cased names", "upstream\tcomp.*\nUp\tcomp.*\n", sample_active,
         {"up"}, "", "", 1},
    });
}

TEST(Feedgroups, FailuresBeforeTheListing)
{
    const std::string long_rule = "other\t" + std::string(1020, 'x') + "\n";
    check_cases({
        {"newsfeeds missing", std::nullopt, sample_active, {"up"}, "",
         system_error("kestro/newsfeeds", ENOENT), 1},
        {"malformed line in another feed's rules", "up\tcomp.*\nother comp.*\n", sample_active,
         {"up"}, "", "kestro/newsfeeds: malformed line\n", 1},
        {"long line after the feed's last rule", "up\tcomp.*\n" + long_rule, sample_active,
         {"up"}, "", "kestro/newsfeeds: long line\n", 1},
        {"active missing", "up\tcomp.*\n", std::nullopt, {"up"}, "",
         system_error("kestro/active", ENOENT), 1},
    });
}

TEST(Feedgroups, SelectsLinesInActiveOrderOncePerMatchingPattern)
{
    check_cases({
        {"overlapping patterns list a line twice, side by side",
         "up\tcomp.*\nother\tmisc.*\nup\tcomp.lang.*\n", sample_active, {"up"},
         "comp.lang.c 120 3 y\ncomp.lang.c 120 3 y\ncomp.lang 5 1 m\ncomp.os.linux 77 2 y\n", "",
         0},
        {"a repeated rule lists every line it matches twice", "up\tmisc.*\nup\tmisc.*\n",
         sample_active, {"up"}, "misc.test 10 1 y\nmisc.test 10 1 y\n", "", 0},
        {"the order of active, not of the patterns", "up\tcomp.os.*\nup\tmisc.*\n",
         sample_active, {"up"}, "misc.test 10 1 y\ncomp.os.linux 77 2 y\n", "", 0},
        {"a pattern without wildcards selects one whole name", "up\tcomp.lang\n", sample_active,
         {"up"}, "comp.lang 5 1 m\n", "", 0},
        {"empty pattern", "up\t\n", sample_active, {"up"}, "", "", 0},
        {"empty pattern before a comment", "up\t# nothing\n", sample_active, {"up"}, "", "", 0},
        {"blanks before a comment stay in the pattern", "up\tcomp.* # all of comp\n",
         sample_active, {"up"}, "", "", 0},
        {"the empty feed name selects rules that begin with a tab",
         "\tcomp.lang*\nup\tmisc.*\n", sample_active, {""},
         "comp.lang.c 120 3 y\ncomp.lang 5 1 m\n", "", 0},
        {"empty active", "up\tcomp.*\n", "", {"up"}, "", "", 0},
    });
}

TEST(Feedgroups, WritesSelectedLinesByteForByte)
{
    const std::string longest = "comp.x " + std::string(1015, '9') + "\n";  // 1022 + LF
    check_cases({
        {"missing and malformed numbers", "up\tcomp.*\n",
         "comp.a some words\ncomp.b \ncomp.c  -1   0x2  y extra\n", {"up"},
         "comp.a some words\ncomp.b \ncomp.c  -1   0x2  y extra\n", "", 0},
        {"carriage return kept", "up\tcomp.*\n", "comp.a 1 2 y\r\n", {"up"}, "comp.a 1 2 y\r\n",
         "", 0},
        {"a tab belongs to the group name", "up\tcomp\tx\n",
         "comp\tx 1 2 y\ncomp.x 1 2 y\ncomp\txy 1 2 y\n", {"up"}, "comp\tx 1 2 y\n", "", 0},
        {"bytes above 127", "up\tcomp.\xe9*\n", "comp.\xe9t\xe9 1 2 y\n", {"up"},
         "comp.\xe9t\xe9 1 2 y\n", "", 0},
        {"a line of 1022 bytes is accepted", "up\tcomp.*\n", longest, {"up"}, longest, "", 0},
    });
}

TEST(Feedgroups, FaultyActiveLineEndsTheListingAfterTheLinesBefore)
{
    const std::string feed = "up\tcomp.*\n";
    const std::string first = "comp.a 1 2 y\n";
    const std::string too_long = "comp.x " + std::string(1016, '9') + "\n";  // 1023 + LF
    const std::string long_line = "kestro/active: long line";  // no line feed
    const std::string malformed = "kestro/active: malformed line\n";
    check_cases({
        {"last line without line feed", feed, first + "comp.b 1 2 y", {"up"}, first, long_line,
         1},
        {"a line of 1023 bytes", feed, first + too_long + first, {"up"}, first, long_line, 1},
        {"a NUL byte", feed, first + std::string("comp.b 1\0 2 y\n", 14) + first, {"up"}, first,
         long_line, 1},
        {"empty line", feed, first + "\n" + first, {"up"}, first, malformed, 1},
        {"leading blank", feed, first + " comp.b 1 2 y\n", {"up"}, first, malformed, 1},
        {"no blank", feed, first + "comp.b\n", {"up"}, first, malformed, 1},
        {"a faulty line of a group that no pattern selects", feed, first + "misc\n" + first,
         {"up"}, first, malformed, 1},
    });
}

TEST(Feedgroups, ReadErrorOnActiveIsAFailure)
{
    ScratchDir dir;
    dir.write("kestro/newsfeeds", "up\tcomp.*\n");
    dir.make_dir("kestro/active");
    RunResult result = run_program("feedgroups", {"up"}, {.cwd = dir.path()});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, system_error("kestro/active", EISDIR));
    EXPECT_EQ(result.exit_status, 1);
}

TEST(Feedgroups, OutputFailureIsAFailure)
{
    std::string many;  // far more than one buffer of standard output
    for (int i = 0; i < 20000; ++i)
        many += "comp.group" + std::to_string(i) + " 1 2 y\n";
    const std::string no_space = system_error(program_path("feedgroups"), ENOSPC);
    const std::vector<ListingCase> cases = {
        {"a short listing fails at the flush", "up\tcomp.*\n", sample_active, {"up"}, "",
         no_space, 1},
        {"a long listing fails while it is written", "up\tcomp.*\n", many, {"up"}, "", no_space,
         1},
        {"nothing to write is no failure", "up\talt.*\n", sample_active, {"up"}, "", "", 0},
        // The first failure keeps its report, and the status stays 1.
        {"a long line after selected lines", "up\tcomp.*\n", "comp.a 1 2 y\ncomp.b", {"up"}, "",
         "kestro/active: long line", 1},
    };
    for (const ListingCase& c : cases) {
        SCOPED_TRACE(c.what);
        RunResult result = run_case(c, "/dev/full");
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.exit_status, c.status);
    }
}
