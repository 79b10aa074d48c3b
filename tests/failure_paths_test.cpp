// Failure paths that ordinary files cannot provoke. A system call on a
// chosen file is failed by strace's fault injection (-e inject with -P for
// the file's relative and absolute paths: the programs open relative paths
// and strace knows descriptors by their absolute ones); an allocation by
// a small preloaded library, tests/fault/fail_malloc.c. Each case checks
// the reports and their order, the exit status and the files afterwards.
// The strace cases skip themselves where strace is missing or may not
// trace.
#include "error_text.h"
#include "feeds.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "strace_faults.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef KESTRO_FAIL_MALLOC_LIBRARY
#error "KESTRO_FAIL_MALLOC_LIBRARY must name the preloaded allocation-failure library"
#endif

namespace {

// Runs the program with the count-th allocation failing, counted from
// the opening of a file whose path ends with after.
RunResult run_without_memory(const std::string& name, const ScratchDir& scratch,
                             const std::vector<std::string>& args, int count, const char* after)
{
    std::vector<std::string> env = {
        std::string("LD_PRELOAD=") + KESTRO_FAIL_MALLOC_LIBRARY,
        "KESTRO_FAIL_MALLOC=" + std::to_string(count),
        std::string("KESTRO_FAIL_MALLOC_AFTER=") + after,
        // The sanitizers must accept a library loaded before theirs, and
        // must not add a note about their own suppressions to the reports.
        with_option("ASAN_OPTIONS", "verify_asan_link_order=0"),
        with_option("LSAN_OPTIONS", "print_suppressions=0"),
    };
    return run_program(name, args, {.cwd = scratch.path(), .argv0 = name, .env = env});
}

// ---- dropgroup ----

const char active_before[] = "a 1 1 y\nb 2 2 y\nc 3 3 n\n";
const char active_without_b[] = "a 1 1 y\nc 3 3 n\n";
const char newsgroups_before[] = "a\tFirst.\nb\tSecond.\nc\tThird.\n";
const char newsgroups_without_b[] = "a\tFirst.\nc\tThird.\n";

// The active a case starts from.
enum class Active {
    small,
    large_then_malformed,  // more than the output buffer holds, a bad last line
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
        for (int i = 0; i < 20000; ++i)
            text += "group." + std::to_string(i) + " 1 1 y\n";
        return text + "bad\n";
    case Active::long_line:
        return "a 1 1 y\n" + std::string(1100, 'x') + " 1 1 y\n";
    case Active::malformed:
        return "a 1 1 y\nb 2\n";
    }
    return text;
}

const std::string active_n = "kestro/active.n";
const std::string newsgroups_n = "kestro/newsgroups.n";

struct DropCase {
    const char* what;
    std::vector<Fault> faults;
    std::vector<std::string> files;  // those the faults concern
    Active active;
    std::string err;
    bool active_rewritten;    // a failure with newsgroups, after active
    std::string left_behind;  // a replacement file whose removal failed
};

// dropgroup b: every failure ends with status 1; the file being worked on
// stays as it was, and its replacement file is gone unless its removal was
// what failed as well. Reports with the program name show its full path.
TEST(FailurePathsDropgroup, EachFailureIsReportedInOrderAndLeavesTheFiles)
{
    SKIP_WITHOUT_STRACE();
    const std::string program = program_path("dropgroup");
    const std::vector<std::string> on_n = {active_n};
    const std::vector<std::string> on_n_and_active = {active_n, "kestro/active"};
    const DropCase cases[] = {
        {"replacement cannot be created, not because it exists", {{"openat", ENOSPC, 1}}, on_n,
         Active::small, system_error(active_n, ENOSPC), false, ""},
        {"newsgroups replacement cannot be created: active stays rewritten",
         {{"openat", EROFS, 1}}, {newsgroups_n}, Active::small,
         system_error(newsgroups_n, EROFS), true, ""},
        {"the replacement's identity cannot be read", {{"newfstatat,fstat", EIO, 1}}, on_n,
         Active::small, system_error(active_n, EIO), false, ""},
        {"active cannot be opened, then closing the replacement fails",
         {{"openat", EACCES, 2}, {"close", EIO, 1}}, on_n_and_active, Active::small,
         system_error("kestro/active", EACCES) + system_error(active_n, EIO), false, ""},
        {"long line, then closing fails", {{"close", EIO, 1}}, on_n, Active::long_line,
         "kestro/active: long line\n" + system_error(active_n, EIO), false, ""},
        {"malformed line, then closing fails", {{"close", EIO, 1}}, on_n, Active::malformed,
         "kestro/active: malformed line\n" + system_error(active_n, EIO), false, ""},
        // The copy stops at the failed write: the bad last line is never read.
        {"write failure seen after a line", {{"write", ENOSPC, 1}}, on_n,
         Active::large_then_malformed, system_error(active_n, ENOSPC), false, ""},
        {"write failure seen after a line, then closing fails",
         {{"write", ENOSPC, 1}, {"close", EIO, 1}}, on_n, Active::large_then_malformed,
         system_error(active_n, ENOSPC) + system_error(active_n, EIO), false, ""},
        {"read error, then closing fails", {{"close", EIO, 1}}, on_n, Active::directory,
         system_error("kestro/active", EISDIR) + system_error(active_n, EIO), false, ""},
        {"read error from the disk", {{"read", EIO, 1}}, {"kestro/active"}, Active::small,
         system_error("kestro/active", EIO), false, ""},
        {"write failure seen when the copy is written out", {{"write", EIO, 1}}, on_n,
         Active::small, system_error(active_n, EIO), false, ""},
        {"sync of the replacement fails", {{"fsync", EIO, 1}}, on_n, Active::small,
         system_error(active_n, EIO), false, ""},
        {"closing the replacement fails after a clean copy", {{"close", EIO, 1}}, on_n,
         Active::small, system_error(active_n, EIO), false, ""},
        {"rename fails", {{"rename,renameat,renameat2", EXDEV, 1}}, on_n, Active::small,
         system_error(program, EXDEV), false, ""},
        {"newsgroups rename fails: active stays rewritten", {{"rename,renameat,renameat2", EXDEV, 1}},
         {newsgroups_n}, Active::small, system_error(program, EXDEV), true, ""},
        {"directory cannot be opened for its sync: active stays rewritten",
         {{"openat", EMFILE, 1}}, {"kestro"}, Active::small, system_error("kestro", EMFILE), true,
         ""},
        {"directory sync fails: active stays rewritten", {{"fsync", EIO, 1}}, {"kestro"},
         Active::small, system_error("kestro", EIO), true, ""},
        {"sync fails, then the replacement cannot be removed",
         {{"fsync", EIO, 1}, {"unlink,unlinkat", EACCES, 1}}, on_n, Active::small,
         system_error(active_n, EIO) + system_error(active_n, EACCES), false, active_n},
        {"rename fails, then the replacement cannot be removed",
         {{"rename,renameat,renameat2", EIO, 1}, {"unlink,unlinkat", EPERM, 1}}, on_n,
         Active::small, system_error(program, EIO) + system_error(active_n, EPERM), false,
         active_n},
        {"active cannot be opened, closing fails, removal fails: three reports",
         {{"openat", EACCES, 2}, {"close", EIO, 1}, {"unlink,unlinkat", EPERM, 1}},
         on_n_and_active, Active::small,
         system_error("kestro/active", EACCES) + system_error(active_n, EIO) +
             system_error(active_n, EPERM),
         false, active_n},
    };
    for (const DropCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        const std::string before = active_text(c.active);
        if (c.active == Active::directory)
            scratch.make_dir("kestro/active");
        else
            scratch.write("kestro/active", before);
        scratch.write("kestro/newsgroups", newsgroups_before);

        RunResult run = run_with_faults("dropgroup", scratch, {"b"}, c.faults, c.files);

        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
        if (c.active != Active::directory) {
            EXPECT_EQ(scratch.read("kestro/active"), c.active_rewritten ? active_without_b : before);
        }
        EXPECT_EQ(scratch.read("kestro/newsgroups"), newsgroups_before);
        for (const std::string& replacement : {active_n, newsgroups_n})
            EXPECT_EQ(scratch.exists(replacement), replacement == c.left_behind) << replacement;
    }
}

// Under strace with no fault, the run is as without it: the failures above
// come from the faults alone.
TEST(FailurePathsDropgroup, NoFaultChangesNothing)
{
    SKIP_WITHOUT_STRACE();
    ScratchDir scratch;
    scratch.write("kestro/active", active_before);
    scratch.write("kestro/newsgroups", newsgroups_before);
    RunResult run = run_with_faults("dropgroup", scratch, {"b"}, {}, {active_n});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(scratch.read("kestro/active"), active_without_b);
    EXPECT_EQ(scratch.read("kestro/newsgroups"), newsgroups_without_b);
}

// ---- feedqueue ----

const char queue_before[] = "old/1\n";

// A scratch folder with rules for two feeds and the queue of feed a.
void set_up_queue(const ScratchDir& scratch)
{
    set_up_feeds(scratch, "a\tcomp.*\nb\tsci.*\n", {"a"});
    scratch.write(queue_path("a"), queue_before);
}

struct QueueCase {
    const char* what;
    std::vector<Fault> faults;
    int status;
    std::string err;
    std::string queue_after;
};

// feedqueue comp/x/1 comp/x/2 comp/x/3, all for feed a, with the fault on
// the second article: the run stops at the failure, the lines before it
// stay whole, and nothing of the failed line stays unless taking it back
// failed too, which is reported. Each article makes on its queue file an
// open, a flock, an fstat and a stat, a pread of the last byte, a write
// and a close.
TEST(FailurePathsFeedqueue, EachFailureStopsTheRunAndKeepsWholeLines)
{
    SKIP_WITHOUT_STRACE();
    const std::string q = queue_path("a");
    const std::string one = std::string(queue_before) + "comp/x/1\n";
    const std::string all = one + "comp/x/2\ncomp/x/3\n";
    const QueueCase cases[] = {
        {"queue file cannot be opened", {{"openat", EROFS, 2}}, 1, system_error(q, EROFS), one},
        {"not readable: opened for writing only, the line goes in",
         {{"openat", EACCES, 2}}, 0, "", all},
        {"lock cannot be taken", {{"flock", ENOLCK, 2}}, 1, system_error(q, ENOLCK), one},
        {"an interrupted wait for the lock is taken up again", {{"flock", EINTR, 2}}, 0, "", all},
        {"the locked file cannot be examined", {{"newfstatat,fstat", EIO, 3}}, 1,
         system_error(q, EIO), one},
        {"the path cannot be checked", {{"newfstatat,stat", EACCES, 4}}, 1,
         system_error(q, EACCES), one},
        {"the path names no file: the run starts again", {{"newfstatat,stat", ENOENT, 4}}, 0, "",
         all},
        {"the last byte cannot be read", {{"pread64", EIO, 2}}, 1, system_error(q, EIO), one},
        {"write fails", {{"write", ENOSPC, 2}}, 1, system_error(q, ENOSPC), one},
        {"write fails and taking it back fails: both reported",
         {{"write", EDQUOT, 2}, {"ftruncate", EIO, 1}}, 1,
         system_error(q, EDQUOT) + system_error(q, EIO), one},
        // The line was whole in the file before the close, which only
        // releases the lock.
        {"closing fails after the line is written", {{"close", EIO, 2}}, 1, system_error(q, EIO),
         one + "comp/x/2\n"},
    };
    for (const QueueCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        set_up_queue(scratch);
        RunResult run = run_with_faults("feedqueue", scratch, {"comp/x/1", "comp/x/2", "comp/x/3"},
                                        c.faults, {q});
        EXPECT_EQ(run.exit_status, c.status);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(scratch.read(q), c.queue_after);
    }
}

// ---- feedgroups ----

// The full listing of feed f over the large active.
std::string large_listing()
{
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "comp.group" + std::to_string(i) + " 1 1 y\n";
    return text;
}

struct ListCase {
    const char* what;
    std::vector<Fault> faults;
    std::string file;    // the one the faults concern
    bool large_active;   // more than the output buffer holds, then a malformed line
    std::string err;
};

// feedgroups f: every failure ends with status 1, and what was written to
// standard output before it is a beginning of the listing.
TEST(FailurePathsFeedgroups, EachFailureIsReportedAndEndsTheListing)
{
    SKIP_WITHOUT_STRACE();
    const std::string program = program_path("feedgroups");
    const ListCase cases[] = {
        {"newsfeeds cannot be opened", {{"openat", EACCES, 1}}, "kestro/newsfeeds", false,
         system_error("kestro/newsfeeds", EACCES)},
        {"newsfeeds cannot be read", {{"read", EIO, 1}}, "kestro/newsfeeds", false,
         system_error("kestro/newsfeeds", EIO)},
        {"active cannot be opened", {{"openat", EACCES, 1}}, "kestro/active", false,
         system_error("kestro/active", EACCES)},
        {"active cannot be read", {{"read", EIO, 1}}, "kestro/active", false,
         system_error("kestro/active", EIO)},
        // The listing stops at the failed write: the bad last line is
        // never read.
        {"output fails during the listing", {{"write", EIO, 1}}, "out", true,
         system_error(program, EIO)},
        {"output fails later during the listing", {{"write", ENOSPC, 2}}, "out", true,
         system_error(program, ENOSPC)},
        {"output fails when it is written out at the end", {{"write", EIO, 1}}, "out", false,
         system_error(program, EIO)},
    };
    const std::string small_active = "comp.a 1 1 y\nmisc.b 2 2 y\ncomp.c 3 3 n\n";
    const std::string small_listing = "comp.a 1 1 y\ncomp.c 3 3 n\n";
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        scratch.write("kestro/newsfeeds", "f\tcomp.*\ng\tmisc.*\nf\tcomp.a\n");
        const std::string listing = c.large_active ? large_listing() : small_listing;
        scratch.write("kestro/active", c.large_active ? listing + "bad\n" : small_active);
        scratch.write("out", "");

        RunResult run = run_with_faults("feedgroups", scratch, {"f"}, c.faults, {c.file},
                                        {.stdout_path = scratch.at("out")});
        std::string out = scratch.read("out");

        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.err, c.err);
        EXPECT_LT(out.size(), listing.size());
        EXPECT_EQ(listing.compare(0, out.size(), out), 0);
    }
}

// ---- memory ----

struct MemoryCase {
    const char* what;
    const char* program;
    int count;  // which allocation fails, counted from newsfeeds' opening
    std::string queue_after;
};

// No memory for what a program keeps: the report has the program's name,
// the status is 1, and nothing is queued or listed. The leak checker of
// the sanitizer build checks that a failed loading frees what it built.
TEST(FailurePathsMemory, NoMemoryIsReportedWithTheProgramName)
{
    const std::string nothing = queue_before;
    const MemoryCase cases[] = {
        {"feedqueue: a rule record", "feedqueue", 1, nothing},
        {"feedqueue: the copy of a feed name", "feedqueue", 2, nothing},
        {"feedqueue: the copy of a pattern", "feedqueue", 3, nothing},
        {"feedqueue: the second rule's record", "feedqueue", 4, nothing},
        // All three are taken once, after the two rules, before the first
        // article.
        {"feedqueue: the queue path", "feedqueue", 7, nothing},
        {"feedqueue: the line", "feedqueue", 8, nothing},
        {"feedqueue: the filters of the rules", "feedqueue", 9, nothing},
        {"feedgroups: a pattern record", "feedgroups", 1, nothing},
        {"feedgroups: the copy of a pattern", "feedgroups", 2, nothing},
        {"feedgroups: the index of the patterns", "feedgroups", 3, nothing},
        {"feedgroups: the table of the index", "feedgroups", 4, nothing},
    };
    for (const MemoryCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        set_up_queue(scratch);
        scratch.write("kestro/active", "comp.a 1 1 y\n");
        std::vector<std::string> args = {"comp/x/1"};
        if (std::string(c.program) == "feedgroups")
            args = {"a"};
        RunResult run = run_without_memory(c.program, scratch, args, c.count, "kestro/newsfeeds");
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.err, system_error(c.program, ENOMEM));
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(scratch.read(queue_path("a")), c.queue_after);
    }
}

}  // namespace
