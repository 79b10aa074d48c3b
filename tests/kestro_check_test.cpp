// kestro-check end to end: the test build checks the "kestro" directory of
// a scratch folder, a small clean installation with one thing planted in it.
#include "error_text.h"
#include "feeds.h"
#include "run_program.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

using namespace std::string_literals;

#ifndef KESTRO_EXAMPLES_DIR
#error "KESTRO_EXAMPLES_DIR must name the sample configuration"
#endif

namespace {

// Two feeds, each with its directory, and a group for each.
const char clean_newsfeeds[] = "up\tcomp.*\nsci\tsci.*\n";
const char clean_active[] = "comp.lang.c 10 1 y\nsci.math 5 1 y\n";
const char clean_newsgroups[] = "comp.lang.c\tThe C language.\nsci.math\tMathematics.\n";

// What a case plants below kestro/: a file with these contents (in place
// of the clean one), a directory, nothing (what was there goes), or a mode.
enum class Kind { file, directory, absent, mode };

struct Planted {
    const char* what;
    std::string path;      // below kestro/
    std::string contents;  // of a file
    std::string out;       // every finding; status 1, or 0 when empty
    Kind kind = Kind::file;
    mode_t mode = 0644;
};

// Makes the clean installation in the scratch folder.
void make_clean(const ScratchDir& dir)
{
    set_up_feeds(dir, clean_newsfeeds, {"up", "sci"});
    dir.write("kestro/active", clean_active);
    dir.write("kestro/newsgroups", clean_newsgroups);
}

// Plants the case's change into the clean installation.
void plant(const ScratchDir& dir, const Planted& c)
{
    std::string path = "kestro/" + c.path;
    if (c.kind == Kind::mode) {
        ASSERT_EQ(chmod(dir.at(path).c_str(), c.mode), 0) << path;
        return;
    }
    std::filesystem::remove(dir.at(path));
    if (c.kind == Kind::file)
        dir.write(path, c.contents, c.mode);
    else if (c.kind == Kind::directory)
        dir.make_dir(path, c.mode);
}

RunResult check(const ScratchDir& dir, const std::vector<std::string>& args = {})
{
    return run_program("kestro-check", args, {.cwd = dir.path()});
}

void check_cases(const std::vector<Planted>& cases)
{
    for (const Planted& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        make_clean(dir);
        plant(dir, c);
        RunResult result = check(dir);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exit_status, c.out.empty() ? 0 : 1);
    }
}

// Copies the sample configuration of examples/kestro into the folder.
void copy_sample(const ScratchDir& dir)
{
    const std::filesystem::path sample = KESTRO_EXAMPLES_DIR;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(sample)) {
        std::string target = "kestro/" + entry.path().lexically_relative(sample).string();
        if (entry.is_directory()) {
            dir.make_dir(target);
        } else {
            dir.write(target, read_file(entry.path()));
        }
    }
}

// Writes a lock file last changed the given number of seconds ago.
void plant_lock(const ScratchDir& dir, const std::string& path, const std::string& contents,
                time_t age)
{
    dir.write(path, contents);
    timeval times[2];
    gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= age;
    times[1] = times[0];
    ASSERT_EQ(utimes(dir.at(path).c_str(), times), 0) << path;
}

// The finding of a lock file of the age given in words.
std::string lock_warning(const std::string& path, const std::string& age)
{
    return path + ": warning: lock file, unchanged for " + age +
           ": dropgroup waits until it is gone (dropgroup(8) says when it may be removed)\n";
}

}  // namespace

TEST(KestroCheck, SampleAndCleanInstallationCheckClean)
{
    ScratchDir sample;
    copy_sample(sample);
    RunResult result = check(sample);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, 0);

    check_cases({
        {"clean", "newsfeeds", clean_newsfeeds, ""},
        {"comments, empty lines, a rule without wildcards", "newsfeeds",
         "# feeds\n\nup\tcomp.lang.*\n\n# the rest\nsci\tsci.math\n", ""},
        {"a queue whose lines all end", "suck/up/outgoing", "comp/lang/c/1\ncomp/lang/c/2\n", ""},
    });
}

TEST(KestroCheck, NewsfeedsLinesTheLoadersRefuse)
{
    const std::string too_long = "sci\t" + std::string(1019, 'x') + "\n";  // 1023 + LF
    check_cases({
        {"more than 1022 bytes", "newsfeeds", "up\tcomp.*\n" + too_long,
         "kestro/newsfeeds:2: error: long line: more than 1022 bytes before its line feed\n"},
        {"last line without line feed", "newsfeeds", "up\tcomp.*\nsci\tsci.*",
         "kestro/newsfeeds:2: error: long line: the last line has no line feed\n"},
        {"NUL byte", "newsfeeds", "up\tcomp.*\nsci\tsci\0.*\n"s,
         "kestro/newsfeeds:2: error: long line: it holds a NUL byte\n"},
        {"nothing is read after a long line", "newsfeeds", "up\tcomp.*\n" + too_long + "bad\n",
         "kestro/newsfeeds:2: error: long line: more than 1022 bytes before its line feed\n"},
        {"blanks for the tab, and every malformed line", "newsfeeds",
         "up comp.*\nup\tcomp.*\nsci#\tsci.*\nsci\tsci.*\n",
         "kestro/newsfeeds:1: error: no tab between feed name and pattern\n"
         "kestro/newsfeeds:3: error: no tab between feed name and pattern\n"},
        {"a line of blanks", "newsfeeds", "up\tcomp.*\n  # sci below\nsci\tsci.*\n",
         "kestro/newsfeeds:2: error: no tab, and only blanks or carriage returns: such a line "
         "is not empty\n"},
        {"an empty line from another system", "newsfeeds", "up\tcomp.*\n\r\nsci\tsci.*\n",
         "kestro/newsfeeds:2: error: no tab, and only blanks or carriage returns: such a line "
         "is not empty\n"},
        {"no rule", "newsfeeds", "# up\tcomp.*\n\n",
         "kestro/newsfeeds: error: no rule: feedqueue and feedgroups fail without a message\n"},
        {"missing", "newsfeeds", "",
         "kestro/newsfeeds: error: cannot be opened: " + error_text(ENOENT) + "\n", Kind::absent},
        {"unreadable", "newsfeeds", "",
         "kestro/newsfeeds: error: read error: " + error_text(EISDIR) + "\n", Kind::directory},
    });
}

TEST(KestroCheck, NewsfeedsRulesTheLoadersTakeAsWritten)
{
    check_cases({
        {"blank before a comment", "newsfeeds", "up\tcomp.* # all of comp\nsci\tsci.*\n",
         "kestro/newsfeeds:1: warning: pattern \"comp.* \" ends in a blank or tab, which is part "
         "of the pattern (up to a \"#\", all of the line is)\n"},
        {"tab at the end", "newsfeeds", "up\tcomp.*\nsci\tsci.*\t\n",
         "kestro/newsfeeds:2: warning: pattern \"sci.*\\t\" ends in a blank or tab, which is part "
         "of the pattern (up to a \"#\", all of the line is)\n"},
        {"carriage returns", "newsfeeds", "up\tcomp.*\r\nsci\tsci.*\r\n",
         "kestro/newsfeeds:1: warning: pattern \"comp.*\\r\" ends in a carriage return, which "
         "is part of the pattern (a line end written on another system?)\n"
         "kestro/newsfeeds:2: warning: pattern \"sci.*\\r\" ends in a carriage return, which "
         "is part of the pattern (a line end written on another system?)\n"},
        {"empty pattern", "newsfeeds", "up\tcomp.*\nsci\t# none yet\nsci\tsci.*\n",
         "kestro/newsfeeds:2: warning: empty pattern: it matches no group\n"},
        {"blank after the feed name", "newsfeeds", "up\tcomp.*\nsci \tsci.*\n",
         "kestro/newsfeeds:2: warning: feed name \"sci \" ends in a blank, which is part of the "
         "name\n"
         "kestro/newsfeeds:2: error: feed sci : no directory kestro/suck/sci : feedqueue fails "
         "at the feed's first article\n"},
        {"empty feed name", "newsfeeds", "\tcomp.*\nsci\tsci.*\n",
         "kestro/newsfeeds:1: warning: empty feed name: the queue is the file outgoing in suck/ "
         "itself\n"},
    });
}

TEST(KestroCheck, RulesThatNoGroupReaches)
{
    check_cases({
        {"a pattern that matches no group", "newsfeeds", "up\tcomp.*\nsci\tsoc.*\nsci\tsci.*\n",
         "kestro/newsfeeds:2: warning: pattern matches no group of active\n"},
        {"letter case counts", "newsfeeds", "up\tComp.*\nup\tcomp.*\nsci\tsci.*\n",
         "kestro/newsfeeds:1: warning: pattern matches no group of active\n"},
        {"an earlier rule of another feed takes every group", "newsfeeds",
         "up\tcomp.*\nsci\tsci.*\nsci\tcomp.lang.c\n",
         "kestro/newsfeeds:3: warning: rule receives no article: the rule of line 1 (feed up) "
         "takes each group it matches first\n"},
        {"earlier rules of two feeds take the groups", "newsfeeds",
         "up\tcomp.*\nsci\tsci.*\nup\t*\n",
         "kestro/newsfeeds:3: warning: rule receives no article: earlier rules take each group "
         "it matches first, such as line 2 (feed sci)\n"},
        {"a rule of the same feed comes first", "newsfeeds",
         "up\tcomp.*\nsci\tsci.*\nup\tcomp.lang.?\n",
         "kestro/newsfeeds:3: warning: rule adds nothing: the rule of line 1, of the same feed, "
         "takes each group it matches first\n"},
        {"a repeated rule", "newsfeeds", "up\tcomp.*\nsci\tsci.*\nsci\tsci.*\n",
         "kestro/newsfeeds:3: warning: rule adds nothing: the rule of line 2, of the same feed, "
         "takes each group it matches first\n"},
        {"a rule that takes one group of several is no finding", "newsfeeds",
         "up\tcomp.lang.c\nsci\t*\n", ""},
        {"a dot in a set matches names but no article path", "newsfeeds",
         "up\tcomp.*\nsci\tsci[.]math\n",
         "kestro/newsfeeds:2: warning: pattern matches group names but none of their article "
         "paths, where dots are slashes: feedqueue gives it no article\n"},
        {"a group that no rule takes is no finding", "active",
         "comp.lang.c 10 1 y\nlocal.test 1 1 y\nsci.math 5 1 y\n", ""},
        {"not judged when active stops early", "active",
         std::string(clean_active) + "local.test 1 1 y",
         "kestro/active:3: error: long line: the last line has no line feed\n"},
    });
}

TEST(KestroCheck, FeedDirectoriesAndQueues)
{
    check_cases({
        {"missing directory, at the feed's first rule", "suck/sci", "",
         "kestro/newsfeeds:2: error: feed sci: no directory kestro/suck/sci: feedqueue fails at "
         "the feed's first article\n",
         Kind::absent},
        {"a file where the directory should be", "suck/sci", "x\n",
         "kestro/newsfeeds:2: error: feed sci: kestro/suck/sci is not a directory\n"},
        {"an unfinished last line", "suck/up/outgoing", "comp/lang/c/1\ncomp/lang/c/2",
         "kestro/suck/up/outgoing: warning: last line has no line feed\n"},
    });
}

TEST(KestroCheck, WhatTheAccountMayNotWrite)
{
    if (programs_run_as_root())
        GTEST_SKIP() << "the programs run as root, which may write anywhere";
    const std::string denied = error_text(EACCES);
    check_cases({
        {"a feed directory", "suck/sci", "",
         "kestro/newsfeeds:2: error: feed sci: cannot create the queue file in kestro/suck/sci: " +
             denied + "\n",
         Kind::mode, 0555},
        {"a queue file", "suck/up/outgoing", "comp/lang/c/1\n",
         "kestro/newsfeeds:1: error: feed up: cannot append to kestro/suck/up/outgoing: " +
             denied + "\n",
         Kind::file, 0444},
        {"the configuration directory", ".", "",
         "kestro: error: dropgroup cannot create its lock files here: " + denied + "\n",
         Kind::mode, 0555},
    });
}

TEST(KestroCheck, ActiveLinesTheReadersRefuse)
{
    const std::string too_long = "misc.x " + std::string(1016, '9') + "\n";  // 1023 + LF
    const std::string grows = std::string(1019, 'g') + "  y\n";  // 1022 + LF; 1025 written
    const std::string first = "comp.lang.c 10 1 y\n";
    const std::string last = "sci.math 5 1 y\n";
    check_cases({
        {"empty line, and every refused line", "active", first + "\n" + last + "\n",
         "kestro/active:2: error: empty line\nkestro/active:4: error: empty line\n"},
        {"leading blank", "active", first + " misc.test 1 1 y\n" + last,
         "kestro/active:2: error: the line begins with a blank\n"},
        {"no blank", "active", first + "misc.test\n" + last,
         "kestro/active:2: error: no blank after the group name\n"},
        {"no flag: refused by dropgroup only", "active", first + "misc.test 1 2\n" + last,
         "kestro/active:2: error: not of the form \"name number number flag\" that dropgroup "
         "reads\n"},
        {"a negative number", "active", first + "misc.test 1 -2 y\n" + last,
         "kestro/active:2: error: not of the form \"name number number flag\" that dropgroup "
         "reads\n"},
        {"grows past the longest line when written back", "active", first + grows + last,
         "kestro/active:2: error: dropgroup would write the line back with 1025 bytes, more "
         "than 1022\n"},
        {"more than 1022 bytes", "active", first + too_long + last,
         "kestro/active:2: error: long line: more than 1022 bytes before its line feed\n"},
        {"NUL byte", "active", first + "misc.test 1\0 1 y\n"s + last,
         "kestro/active:2: error: long line: it holds a NUL byte\n"},
        {"a group on two lines", "active", first + last + "misc.test 1 1 y\n" + first,
         "kestro/active:4: warning: group comp.lang.c already stands on line 1\n"},
        {"missing", "active", "", "kestro/active: error: cannot be opened: " + error_text(ENOENT) + "\n",
         Kind::absent},
    });
}

TEST(KestroCheck, NewsgroupsLinesTheReaderRefuses)
{
    const std::string first = "comp.lang.c\tThe C language.\n";
    check_cases({
        {"no tab", "newsgroups", first + "sci.math Mathematics.\n",
         "kestro/newsgroups:2: error: no tab after the group name\n"},
        {"leading tab", "newsgroups", first + "\tMathematics.\n",
         "kestro/newsgroups:2: error: the line begins with a tab\n"},
        {"empty line", "newsgroups", "\n" + first,
         "kestro/newsgroups:1: error: empty line\n"},
        {"last line without line feed", "newsgroups", first + "sci.math\tMathematics.",
         "kestro/newsgroups:2: error: long line: the last line has no line feed\n"},
        {"missing", "newsgroups", "",
         "kestro/newsgroups: error: cannot be opened: " + error_text(ENOENT) + "\n", Kind::absent},
    });
}

// A lock file is reported with its age; it is only looked at, so the
// check neither waits for it nor removes it.
TEST(KestroCheck, LockFilesWithTheirAge)
{
    ScratchDir dir;
    make_clean(dir);
    plant_lock(dir, "kestro/active.n", "comp.lang.c 10 1 y\n", 3 * 3600 + 5);
    plant_lock(dir, "kestro/newsgroups.n", "", 10 * 60 + 5);
    RunResult result = check(dir);
    EXPECT_EQ(result.out, lock_warning("kestro/active.n", "3 hours") +
                              lock_warning("kestro/newsgroups.n", "10 minutes"));
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_TRUE(dir.exists("kestro/active.n"));
    EXPECT_TRUE(dir.exists("kestro/newsgroups.n"));
}

// Findings come file by file, in the order of the checks, also when the
// same files hold several.
TEST(KestroCheck, FindingsInTheOrderOfTheChecks)
{
    ScratchDir dir;
    make_clean(dir);
    dir.write("kestro/newsfeeds", "up\tcomp.*\nsci\tsoc.*\nsci sci.*\nnew\tnews.*\n");
    dir.write("kestro/active", "comp.lang.c 10 1 y\nsci.math\ncomp.lang.c 10 1 y\n");
    dir.write("kestro/newsgroups", "comp.lang.c\n");
    plant_lock(dir, "kestro/active.n", "", 3 * 3600 + 5);
    RunResult result = check(dir);
    EXPECT_EQ(result.out,
              "kestro/newsfeeds:3: error: no tab between feed name and pattern\n"
              "kestro/newsfeeds:4: error: feed new: no directory kestro/suck/new: feedqueue "
              "fails at the feed's first article\n"
              "kestro/active:2: error: no blank after the group name\n"
              "kestro/active:3: warning: group comp.lang.c already stands on line 1\n"
              "kestro/newsfeeds:2: warning: pattern matches no group of active\n"
              "kestro/newsfeeds:4: warning: pattern matches no group of active\n"
              "kestro/newsgroups:1: error: no tab after the group name\n" +
                  lock_warning("kestro/active.n", "3 hours"));
    EXPECT_EQ(result.exit_status, 1);
}

// The summary is information, not a finding: a clean installation keeps
// status 0 with it.
TEST(KestroCheck, RoutingSummary)
{
    ScratchDir dir;
    make_clean(dir);
    dir.write("kestro/newsfeeds", "up\tcomp.lang.*\nup\tcomp.*\nsci\tsci.*\n");
    dir.write("kestro/active",
              "comp.lang.c 1 1 y\ncomp.os 1 1 y\ncomp.lang.ada 1 1 y\nsci.math 1 1 y\n"
              "local.test 1 1 y\n");
    RunResult result = check(dir, {"-r"});
    EXPECT_EQ(result.out,
              "kestro/newsfeeds:1: note: feed up, pattern \"comp.lang.*\": 2 groups\n"
              "kestro/newsfeeds:2: note: feed up, pattern \"comp.*\": 1 group\n"
              "kestro/newsfeeds:3: note: feed sci, pattern \"sci.*\": 1 group\n"
              "kestro/active: note: 1 of 5 groups go to no feed\n");
    EXPECT_EQ(result.exit_status, 0);
}

TEST(KestroCheck, UsageErrors)
{
    ScratchDir dir;
    make_clean(dir);
    const std::string program = program_path("kestro-check");
    const std::string usage = "Usage: " + program + " [-r]\n";
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {"an unknown option", {"-x"}, program + ": invalid option -- 'x'\n" + usage},
        {"an operand", {"active"}, usage},
        {"an operand after the option", {"-r", "active"}, usage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunResult result = check(dir, c.args);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.exit_status, 2);
    }
}

// Findings that cannot be written are no check: status 2, not 1 or 0.
TEST(KestroCheck, UnwritableOutputIsNoCheck)
{
    ScratchDir dir;
    make_clean(dir);
    dir.write("kestro/newsfeeds", "up comp.*\n");
    RunResult result =
        run_program("kestro-check", {}, {.cwd = dir.path(), .stdout_path = "/dev/full"});
    EXPECT_EQ(result.err, system_error(program_path("kestro-check"), ENOSPC));
    EXPECT_EQ(result.exit_status, 2);
}
