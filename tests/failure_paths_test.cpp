// Failure paths that ordinary files cannot provoke. The test builds run with
// the fault-injection library preloaded (tests/fault/fault_inject.c), which
// makes one chosen call fail with a chosen error; each case then checks the
// reports and their order, the exit status and the files afterwards.
#include "run_program.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef KESTRO_FAULT_LIBRARY
#error "KESTRO_FAULT_LIBRARY must name the fault-injection library"
#endif

namespace {

// Appends an option to a sanitizer's option list from our environment.
std::string with_option(const char* variable, const std::string& option)
{
    const char* existing = getenv(variable);
    std::string options = existing != nullptr && *existing != '\0' ? existing + std::string(":") : "";
    return std::string(variable) + "=" + options + option;
}

// Runs a program in the scratch folder under the faults, named plainly by
// its name so that reports with the program name are easy to write down.
// The sanitizers must accept a library loaded before theirs, and must not
// add a note about their own suppressions to the reports.
RunResult run_with_faults(const std::string& name, const ScratchDir& scratch,
                          const std::vector<std::string>& args, const std::string& faults)
{
    std::vector<std::string> env = {
        std::string("LD_PRELOAD=") + KESTRO_FAULT_LIBRARY,
        "KESTRO_FAULT=" + faults,
        with_option("ASAN_OPTIONS", "verify_asan_link_order=0"),
        with_option("LSAN_OPTIONS", "print_suppressions=0"),
    };
    return run_program(name, args, {.cwd = scratch.path(), .argv0 = name, .env = env});
}

// What perror writes for a failure with the prefix and the error number.
std::string report(const std::string& prefix, int error)
{
    return prefix + ": " + strerror(error) + "\n";
}

// ---- dropgroup ----

const char active_before[] = "a 1 1 y\nb 2 2 y\nc 3 3 n\n";
const char active_without_b[] = "a 1 1 y\nc 3 3 n\n";
const char newsgroups_before[] = "a\tFirst.\nb\tSecond.\nc\tThird.\n";

// The active a case starts from.
enum class Active {
    small,
    large_then_malformed,  // larger than any stream buffer, bad last line
    long_line,
    malformed,
    directory,             // reading it fails
};

std::string active_text(Active kind)
{
    std::string text;
    switch (kind) {
    case Active::small:
    case Active::directory:
        return active_before;
    case Active::large_then_malformed:
        for (int i = 0; i < 3000; ++i)
            text += "group." + std::to_string(i) + " 1 1 y\n";
        return text + "bad\n";
    case Active::long_line:
        return "a 1 1 y\n" + std::string(1100, 'x') + " 1 1 y\n";
    case Active::malformed:
        return "a 1 1 y\nb 2\n";
    }
    return text;
}

struct DropCase {
    const char* what;
    std::string faults;
    Active active;
    std::string err;
    bool active_rewritten;    // a failure with newsgroups, after active
    std::string left_behind;  // a replacement file whose removal failed
};

// dropgroup b: every failure ends with status 1; the file being worked on
// stays as it was, and its replacement file is gone unless its removal was
// what failed as well.
TEST(FailurePathsDropgroup, EachFailureIsReportedInOrderAndLeavesTheFiles)
{
    const std::string active_n = "kestro/active.n";
    const std::string newsgroups_n = "kestro/newsgroups.n";
    const DropCase cases[] = {
        {"replacement cannot be created, not because it exists",
         "open@kestro/active.n:1:ENOSPC", Active::small, report(active_n, ENOSPC), false, ""},
        {"newsgroups replacement cannot be created: active stays rewritten",
         "open@kestro/newsgroups.n:1:EROFS", Active::small, report(newsgroups_n, EROFS), true, ""},
        {"no write stream", "fdopen@kestro/active.n:1:ENOMEM", Active::small,
         report(active_n, ENOMEM), false, ""},
        {"active cannot be opened, then closing the write stream fails",
         "open@kestro/active:1:EACCES,fclose@kestro/active.n:1:EIO", Active::small,
         report("kestro/active", EACCES) + report(active_n, EIO), false, ""},
        {"long line, then closing the write stream fails", "fclose@kestro/active.n:1:EIO",
         Active::long_line, "kestro/active: long line\n" + report(active_n, EIO), false, ""},
        {"malformed line, then closing the write stream fails", "fclose@kestro/active.n:1:EIO",
         Active::malformed, "kestro/active: malformed line\n" + report(active_n, EIO), false, ""},
        // The copy stops at the failed write: the bad last line is never read.
        {"write failure seen after a line", "write@kestro/active.n:1:ENOSPC",
         Active::large_then_malformed, report(active_n, ENOSPC), false, ""},
        {"write failure seen after a line, then closing the write stream fails",
         "write@kestro/active.n:1:ENOSPC,fclose@kestro/active.n:1:EIO",
         Active::large_then_malformed, report(active_n, ENOSPC) + report(active_n, EIO), false, ""},
        {"read error, then closing the write stream fails", "fclose@kestro/active.n:1:EIO",
         Active::directory, report("kestro/active", EISDIR) + report(active_n, EIO), false, ""},
        {"write failure seen when the copy is flushed", "write@kestro/active.n:1:EIO",
         Active::small, report(active_n, EIO), false, ""},
        {"sync of the replacement fails", "fsync@kestro/active.n:1:EIO", Active::small,
         report(active_n, EIO), false, ""},
        {"closing the write stream fails after a clean copy", "fclose@kestro/active.n:1:EIO",
         Active::small, report(active_n, EIO), false, ""},
        {"rename fails", "rename@kestro/active.n:1:EXDEV", Active::small,
         report("dropgroup", EXDEV), false, ""},
        {"newsgroups rename fails: active stays rewritten", "rename@kestro/newsgroups.n:1:EXDEV",
         Active::small, report("dropgroup", EXDEV), true, ""},
        {"directory cannot be opened for its sync: active stays rewritten", "open@kestro:1:EMFILE",
         Active::small, report("kestro", EMFILE), true, ""},
        {"directory sync fails: active stays rewritten", "fsync@/kestro:1:EIO", Active::small,
         report("kestro", EIO), true, ""},
        {"no write stream, then the replacement cannot be removed",
         "fdopen@kestro/active.n:1:ENOMEM,unlink@kestro/active.n:1:EACCES", Active::small,
         report(active_n, ENOMEM) + report(active_n, EACCES), false, active_n},
        {"rename fails, then the replacement cannot be removed",
         "rename@kestro/active.n:1:EIO,unlink@kestro/active.n:1:EPERM", Active::small,
         report("dropgroup", EIO) + report(active_n, EPERM), false, active_n},
        {"active cannot be opened, closing fails, removal fails: three reports",
         "open@kestro/active:1:EACCES,fclose@kestro/active.n:1:EIO,unlink@kestro/active.n:1:EPERM",
         Active::small,
         report("kestro/active", EACCES) + report(active_n, EIO) + report(active_n, EPERM), false,
         active_n},
    };
    for (const DropCase& c : cases) {
        ScratchDir scratch;
        const std::string before = active_text(c.active);
        if (c.active == Active::directory)
            scratch.make_dir("kestro/active");
        else
            scratch.write("kestro/active", before);
        scratch.write("kestro/newsgroups", newsgroups_before);

        RunResult run = run_with_faults("dropgroup", scratch, {"b"}, c.faults);

        EXPECT_EQ(run.exit_status, 1) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_EQ(run.out, "") << c.what;
        if (c.active != Active::directory) {
            EXPECT_EQ(scratch.read("kestro/active"), c.active_rewritten ? active_without_b : before)
                << c.what;
        }
        EXPECT_EQ(scratch.read("kestro/newsgroups"), newsgroups_before) << c.what;
        for (const std::string& replacement : {active_n, newsgroups_n})
            EXPECT_EQ(scratch.exists(replacement), replacement == c.left_behind)
                << c.what << ": " << replacement;
    }
}

// ---- feedqueue ----

const char queue_path[] = "kestro/suck/a/outgoing";
const char queue_before[] = "old/1\n";

struct QueueCase {
    const char* what;
    std::string faults;
    int status;
    std::string err;
    std::string queue_after;
};

// feedqueue comp/x/1 comp/x/2 comp/x/3, all for feed a, with the fault on
// the second article (or while the rules are loaded): the run stops at the
// failure, the lines before it stay whole, and no piece of a line is left
// unless cutting it off failed too, which is reported.
TEST(FailurePathsFeedqueue, EachFailureStopsTheRunAndKeepsWholeLines)
{
    const std::string q = queue_path;
    const std::string one = std::string(queue_before) + "comp/x/1\n";
    const QueueCase cases[] = {
        {"queue file cannot be opened", "open@suck/a/outgoing:2:EROFS", 1, report(q, EROFS), one},
        {"lock cannot be taken", "flock@suck/a/outgoing:2:ENOLCK", 1, report(q, ENOLCK), one},
        {"an interrupted wait for the lock is taken up again", "flock@suck/a/outgoing:2:EINTR", 0,
         "", one + "comp/x/2\ncomp/x/3\n"},
        {"write fails", "write@suck/a/outgoing:2:ENOSPC", 1, report(q, ENOSPC), one},
        {"write fails after part of the line: the part is cut off",
         "write@suck/a/outgoing:2:ENOSPC:4", 1, report(q, ENOSPC), one},
        {"write fails after part of the line and cutting it off fails: both reported",
         "write@suck/a/outgoing:2:EDQUOT:4,ftruncate@suck/a/outgoing:1:EIO", 1,
         report(q, EDQUOT) + report(q, EIO), one + "comp"},
        // The line was whole in the file before the last close, which only
        // releases the lock.
        {"closing the descriptor fails after the line is written", "close@suck/a/outgoing:2:EIO", 1,
         report(q, EIO), one + "comp/x/2\n"},
        {"no memory for a rule record", "malloc@kestro/newsfeeds:2:ENOMEM", 1,
         report("feedqueue", ENOMEM), queue_before},
        // Counted from the opening of newsfeeds: the stream's buffer, then
        // the first rule's record and its two copies.
        {"no memory for the copy of a feed name", "malloc@kestro/newsfeeds:3:ENOMEM", 1,
         report("feedqueue", ENOMEM), queue_before},
        {"no memory for the copy of a pattern", "malloc@kestro/newsfeeds:4:ENOMEM", 1,
         report("feedqueue", ENOMEM), queue_before},
        // Both are taken once, after the rules, before the first article:
        // counted from the opening of newsfeeds, after the stream's buffer
        // and the two rules' records and copies.
        {"no memory for the queue path", "malloc@kestro/newsfeeds:8:ENOMEM", 1,
         report("feedqueue", ENOMEM), queue_before},
        {"no memory for the line buffer", "malloc@kestro/newsfeeds:9:ENOMEM", 1,
         report("feedqueue", ENOMEM), queue_before},
    };
    for (const QueueCase& c : cases) {
        ScratchDir scratch;
        scratch.write("kestro/newsfeeds", "a\tcomp.*\nb\tsci.*\n");
        scratch.make_dir("kestro/suck");
        scratch.make_dir("kestro/suck/a");
        scratch.write(queue_path, queue_before);

        RunResult run = run_with_faults("feedqueue", scratch, {"comp/x/1", "comp/x/2", "comp/x/3"},
                                        c.faults);

        EXPECT_EQ(run.exit_status, c.status) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_EQ(scratch.read(queue_path), c.queue_after) << c.what;
    }
}

// ---- feedgroups ----

struct ListCase {
    const char* what;
    std::string faults;
    bool large_active;   // many selected lines, then a malformed one
    std::string err;
    bool output_begun;   // some output may precede the failure
};

// The full listing of feed f over the large active.
std::string large_listing()
{
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "comp.group" + std::to_string(i) + " 1 1 y\n";
    return text;
}

// feedgroups f: every failure ends with status 1, and what was written to
// standard output before it is a beginning of the listing.
TEST(FailurePathsFeedgroups, EachFailureIsReportedAndEndsTheListing)
{
    const ListCase cases[] = {
        {"newsfeeds cannot be opened", "open@kestro/newsfeeds:1:EACCES", false,
         report("kestro/newsfeeds", EACCES), false},
        {"active cannot be opened", "open@kestro/active:1:EACCES", false,
         report("kestro/active", EACCES), false},
        {"no memory for a pattern record", "malloc@kestro/newsfeeds:2:ENOMEM", false,
         report("feedgroups", ENOMEM), false},
        {"no memory for the copy of a pattern", "malloc@kestro/newsfeeds:3:ENOMEM", false,
         report("feedgroups", ENOMEM), false},
        // The listing stops at the failed write: the bad last line is
        // never read.
        {"output fails during the listing", "write:1:EIO", true, report("feedgroups", EIO), true},
        {"output fails later during the listing", "write:2:ENOSPC", true,
         report("feedgroups", ENOSPC), true},
        {"output fails when it is flushed at the end", "write:1:EIO", false,
         report("feedgroups", EIO), true},
    };
    const std::string small_active = "comp.a 1 1 y\nmisc.b 2 2 y\ncomp.c 3 3 n\n";
    const std::string small_listing = "comp.a 1 1 y\ncomp.c 3 3 n\n";
    for (const ListCase& c : cases) {
        ScratchDir scratch;
        scratch.write("kestro/newsfeeds", "f\tcomp.*\ng\tmisc.*\nf\tcomp.a\n");
        const std::string listing = c.large_active ? large_listing() : small_listing;
        scratch.write("kestro/active", c.large_active ? listing + "bad\n" : small_active);

        RunResult run = run_with_faults("feedgroups", scratch, {"f"}, c.faults);

        EXPECT_EQ(run.exit_status, 1) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        if (c.output_begun) {
            EXPECT_LT(run.out.size(), listing.size()) << c.what;
            EXPECT_EQ(listing.compare(0, run.out.size(), run.out), 0) << c.what;
        } else {
            EXPECT_EQ(run.out, "") << c.what;
        }
    }
}

// Rules that never come due must change nothing, though they route the
// writes of the programs' streams through the library: otherwise the
// failures above could come from the library rather than the faults.
TEST(FailurePathsLibrary, RulesThatNeverComeDueChangeNothing)
{
    const std::string never = ":100000:EIO";
    {
        ScratchDir scratch;
        scratch.write("kestro/active", active_before);
        scratch.write("kestro/newsgroups", newsgroups_before);
        RunResult run = run_with_faults(
            "dropgroup", scratch, {"b"},
            "write" + never + ",fsync" + never + ",fclose" + never + ",malloc:100000:ENOMEM");
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(scratch.read("kestro/active"), active_without_b);
        EXPECT_EQ(scratch.read("kestro/newsgroups"), "a\tFirst.\nc\tThird.\n");
    }
    {
        ScratchDir scratch;
        scratch.write("kestro/newsfeeds", "a\tcomp.*\n");
        scratch.make_dir("kestro/suck");
        scratch.make_dir("kestro/suck/a");
        scratch.write(queue_path, queue_before);
        RunResult run = run_with_faults("feedqueue", scratch, {"comp/x/1", "comp/x/2"},
                                        "write" + never + ",flock" + never);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(scratch.read(queue_path), std::string(queue_before) + "comp/x/1\ncomp/x/2\n");
    }
    {
        ScratchDir scratch;
        scratch.write("kestro/newsfeeds", "f\tcomp.*\n");
        scratch.write("kestro/active", large_listing() + "misc.x 1 1 y\n");
        RunResult run = run_with_faults("feedgroups", scratch, {"f"}, "write" + never);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, large_listing());
    }
}

}  // namespace
