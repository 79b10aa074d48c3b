// dropgroup end to end: the test build runs in a scratch folder whose
// "kestro" directory holds active and newsgroups.
#include "error_text.h"
#include "file_lease.h"
#include "process_state.h"
#include "run_program.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char active_text[] =
    "comp.lang.c 0000012345 0000000001 y\n"
    "comp.lang.c++ 20 3 y\n"
    "misc.test 5 1 m\n";
const char newsgroups_text[] =
    "comp.lang.c\tThe C language.\n"
    "comp.lang.c++\tThe C++ language.\n"
    "misc.test\tTesting.\r\n";

struct Outcome {
    RunResult run;
    std::string active;
    std::string newsgroups;
};

// Runs dropgroup in a fresh scratch folder holding the given files (a null
// text leaves the file out) and collects what it did.
Outcome drop(const std::optional<std::string>& active,
             const std::optional<std::string>& newsgroups, const std::vector<std::string>& args)
{
    ScratchDir scratch;
    if (active)
        scratch.write("kestro/active", *active);
    if (newsgroups)
        scratch.write("kestro/newsgroups", *newsgroups);
    Outcome outcome;
    outcome.run = run_program("dropgroup", args, {.cwd = scratch.path()});
    outcome.active = scratch.read("kestro/active");
    outcome.newsgroups = scratch.read("kestro/newsgroups");
    EXPECT_FALSE(scratch.exists("kestro/active.n"));
    EXPECT_FALSE(scratch.exists("kestro/newsgroups.n"));
    return outcome;
}


struct SuccessCase {
    const char* what;
    const char* group;
    std::string active;
    std::string newsgroups;
    std::string active_after;
    std::string newsgroups_after;
};

TEST(Dropgroup, RemovesTheGroupFromBothFiles)
{
    const SuccessCase cases[] = {
        {"one group", "comp.lang.c", active_text, newsgroups_text,
         "comp.lang.c++ 20 3 y\nmisc.test 5 1 m\n",
         "comp.lang.c++\tThe C++ language.\nmisc.test\tTesting.\r\n"},
        {"group in neither file: active normalised, newsgroups as it was", "no.such", active_text,
         newsgroups_text, "comp.lang.c 12345 1 y\ncomp.lang.c++ 20 3 y\nmisc.test 5 1 m\n",
         newsgroups_text},
        {"the longest line that reads back", "a", "a 1 1 y\n" + std::string(1016, 'n') + "  y\n", "",
         std::string(1016, 'n') + " 0 0 y\n", ""},
        {"every line of the group", "a", "a 1 1 y\nb 2 2 y\na 3 3 n\n", "a\tone\nb\ttwo\na\tagain\n",
         "b 2 2 y\n", "b\ttwo\n"},
        {"case and prefixes do not match", "Comp.lang", "comp.lang 1 1 y\ncomp.lang.c 1 1 y\n",
         "comp.lang\tx\n", "comp.lang 1 1 y\ncomp.lang.c 1 1 y\n", "comp.lang\tx\n"},
        {"empty argument removes nothing", "", "a 1 1 y\n", "a\tx\n", "a 1 1 y\n", "a\tx\n"},
        {"empty files stay empty", "a", "", "", "", ""},
        {"carriage return: dropped from active, kept in newsgroups", "x", "a 1 2 y\r\n",
         "a\tdesc\r\n", "a 1 2 y\n", "a\tdesc\r\n"},
        {"tab in an active name", "a", "a\tb 1 2 y\n", "a\tb\n", "a\tb 1 2 y\n", ""},
    };
    for (const SuccessCase& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome outcome = drop(c.active, c.newsgroups, {c.group});
        EXPECT_EQ(outcome.run.exit_status, 0);
        EXPECT_EQ(outcome.run.err, "");
        EXPECT_EQ(outcome.run.out, "");
        EXPECT_EQ(outcome.active, c.active_after);
        EXPECT_EQ(outcome.newsgroups, c.newsgroups_after);
    }
}

struct FailureCase {
    const char* what;
    std::optional<std::string> active;      // nullopt: missing
    std::optional<std::string> newsgroups;  // nullopt: missing
    std::string active_after;
    std::string err;
};

// Every failure reports once, exits 1, leaves no replacement file, and
// leaves active committed only when the failure came with newsgroups.
TEST(Dropgroup, FormatAndMissingFileFailures)
{
    const std::string long_name(1023, 'x');
    const FailureCase cases[] = {
        {"active missing", std::nullopt, newsgroups_text, "",
         system_error("kestro/active", ENOENT)},
        {"malformed active line", "a 1 1 y\nb 1 1\n", "a\tx\n", "a 1 1 y\nb 1 1\n",
         "kestro/active: malformed line\n"},
        {"malformed line of the group itself", "b 1 1 y\na 1\n", "a\tx\n", "b 1 1 y\na 1\n",
         "kestro/active: malformed line\n"},
        {"number of 2^32", "a 4294967296 1 y\n", "a\tx\n", "a 4294967296 1 y\n",
         "kestro/active: malformed line\n"},
        {"negative number", "a -1 1 y\n", "a\tx\n", "a -1 1 y\n",
         "kestro/active: malformed line\n"},
        {"empty active line", "b 1 1 y\n\n", "a\tx\n", "b 1 1 y\n\n",
         "kestro/active: malformed line\n"},
        {"last active line without line feed", "b 1 1 y\nc 1 1 y", "a\tx\n",
         "b 1 1 y\nc 1 1 y", "kestro/active: long line\n"},
        {"active line over 1022 bytes", long_name + " 1 1 y\n", "a\tx\n", long_name + " 1 1 y\n",
         "kestro/active: long line\n"},
        {"a line that would come out too long to read back",
         "a 1 1 y\n" + long_name.substr(6) + "  y\n", "a\tx\n",
         "a 1 1 y\n" + long_name.substr(6) + "  y\n", "kestro/active: long line\n"},
        {"newsgroups missing", "a 01 1 y\nb 1 1 y\n", std::nullopt, "b 1 1 y\n",
         system_error("kestro/newsgroups", ENOENT)},
        {"malformed newsgroups line", "a 1 1 y\nb 1 1 y\n", "b\tx\nno tab\n", "b 1 1 y\n",
         "kestro/newsgroups: malformed line\n"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome outcome = drop(c.active, c.newsgroups, {"a"});
        EXPECT_EQ(outcome.run.exit_status, 1);
        EXPECT_EQ(outcome.run.err, c.err);
        EXPECT_EQ(outcome.active, c.active_after);
        EXPECT_EQ(outcome.newsgroups, c.newsgroups.value_or(""));
    }
}

TEST(Dropgroup, NulByteInNewsgroupsIsALongLine)
{
    // A string literal cannot carry the NUL into the table above.
    ScratchDir scratch;
    scratch.write("kestro/active", "a 1 1 y\n");
    scratch.write("kestro/newsgroups", std::string("b\tx\0y\n", 6));
    RunResult run = run_program("dropgroup", {"a"}, {.cwd = scratch.path()});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, "kestro/newsgroups: long line\n");
    EXPECT_EQ(scratch.read("kestro/active"), "");
    EXPECT_EQ(scratch.read("kestro/newsgroups"), std::string("b\tx\0y\n", 6));
    EXPECT_FALSE(scratch.exists("kestro/newsgroups.n"));
}

TEST(Dropgroup, UsageWithTheFullProgramPath)
{
    const struct {
        const char* what;
        std::vector<std::string> args;
    } cases[] = {
        {"no argument", {}},
        {"two arguments", {"a", "b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome outcome = drop(active_text, newsgroups_text, c.args);
        EXPECT_EQ(outcome.run.exit_status, 1);
        EXPECT_EQ(outcome.run.err, "Usage: " + program_path("dropgroup") + " newsgroup\n");
        EXPECT_EQ(outcome.active, active_text);
        EXPECT_EQ(outcome.newsgroups, newsgroups_text);
    }
}

TEST(Dropgroup, ReadErrorIsReportedWithThePath)
{
    // A directory opens for reading but every read fails.
    ScratchDir scratch;
    scratch.make_dir("kestro/active");
    scratch.write("kestro/newsgroups", newsgroups_text);
    RunResult run = run_program("dropgroup", {"a"}, {.cwd = scratch.path()});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, system_error("kestro/active", EISDIR));
    EXPECT_FALSE(scratch.exists("kestro/active.n"));
    EXPECT_EQ(scratch.read("kestro/newsgroups"), newsgroups_text);
}

TEST(Dropgroup, DirectoryNotWritable)
{
    if (programs_run_as_root())
        GTEST_SKIP() << "the programs run as root, which may write anywhere";
    ScratchDir scratch;
    scratch.write("kestro/active", active_text);
    scratch.write("kestro/newsgroups", newsgroups_text);
    chmod(scratch.at("kestro").c_str(), 0555);
    RunResult run = run_program("dropgroup", {"misc.test"}, {.cwd = scratch.path()});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, system_error("kestro/active.n", EACCES));
    EXPECT_EQ(scratch.read("kestro/active"), active_text);
    EXPECT_EQ(scratch.read("kestro/newsgroups"), newsgroups_text);
}

// The new files are 0644 whatever mask the caller had, and belong to the
// account the program runs as.
TEST(Dropgroup, NewFilesAreMode0644AndOwnedByTheAccount)
{
    for (mode_t mask : {mode_t{0}, mode_t{077}}) {
        SCOPED_TRACE("umask " + std::to_string(mask));
        ScratchDir scratch;
        scratch.write("kestro/active", active_text, 0600);
        scratch.write("kestro/newsgroups", newsgroups_text, 0666);
        RunResult run = run_program("dropgroup", {"misc.test"},
                                    {.cwd = scratch.path(), .umask = mask});
        ASSERT_EQ(run.exit_status, 0) << run.err;
        for (const char* file : {"kestro/active", "kestro/newsgroups"}) {
            SCOPED_TRACE(file);
            struct stat st;
            ASSERT_EQ(stat(scratch.at(file).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0644u);
            EXPECT_EQ(st.st_uid, program_uid());
            EXPECT_EQ(st.st_gid, program_gid());
        }
    }
}

// A replacement file that exists is another writer's lock: the run waits,
// silently, and goes on promptly once it is gone.
TEST(Dropgroup, WaitsWhileTheLockExists)
{
    ScratchDir scratch;
    scratch.write("kestro/active", active_text);
    scratch.write("kestro/newsgroups", newsgroups_text);
    scratch.write("kestro/newsgroups.n", "");
    const std::string active_after = "comp.lang.c 12345 1 y\ncomp.lang.c++ 20 3 y\n";
    RunningProgram running = start_program("dropgroup", {"misc.test"}, {.cwd = scratch.path()});
    // active is done; the run sleeps between its tries at newsgroups.n.
    EXPECT_TRUE(wait_for_state(running.pid, [&](pid_t pid) {
        return scratch.read("kestro/active") == active_after && waits_in_kernel(pid, "sleep");
    }));
    EXPECT_EQ(scratch.read("kestro/newsgroups"), newsgroups_text);
    ASSERT_EQ(unlink(scratch.at("kestro/newsgroups.n").c_str()), 0);
    RunResult run = finish_within(running);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(scratch.read("kestro/newsgroups"),
              "comp.lang.c\tThe C language.\ncomp.lang.c++\tThe C++ language.\n");
}

// A dropgroup run stopped where it holds active.n and opens active: a
// lease on active makes that open wait until the lease goes.
struct HeldRun {
    FileLease lease;
    RunningProgram running;

    HeldRun(const ScratchDir& scratch, const std::string& group, const RunOptions& options = {})
        : lease(scratch.at("kestro/active"))
    {
        if (!lease.held())
            return;
        RunOptions in_scratch = options;
        in_scratch.cwd = scratch.path();
        running = start_program("dropgroup", {group}, in_scratch);
        EXPECT_TRUE(wait_until([&] { return lease.opener_waits(); }));
        EXPECT_TRUE(scratch.exists("kestro/active.n"));
    }
};

// Every signal that would end the run removes the replacement file first;
// signals ignored at start stay ignored.
TEST(Dropgroup, EverySignalThatEndsTheRunRemovesItsLock)
{
    const int signals[] = {SIGHUP, SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1,  SIGUSR2,
                           SIGALRM, SIGPIPE, SIGXCPU, SIGVTALRM, SIGPROF, SIGRTMIN, SIGRTMAX};
    for (int signal_number : signals) {
        SCOPED_TRACE(strsignal(signal_number));
        ScratchDir scratch;
        scratch.write("kestro/active", active_text);
        HeldRun held(scratch, "a");
        if (!held.lease.held())
            GTEST_SKIP() << held.lease.why_not();
        kill(held.running.pid, signal_number);
        RunResult run = finish_within(held.running);
        // Our own read of active would break the lease too, and wait.
        held.lease.release();
        EXPECT_EQ(run.signal, signal_number);
        EXPECT_FALSE(scratch.exists("kestro/active.n"));
        EXPECT_EQ(scratch.read("kestro/active"), active_text);
    }
    ScratchDir scratch;
    scratch.write("kestro/active", active_text);
    scratch.write("kestro/newsgroups", newsgroups_text);
    HeldRun held(scratch, "misc.test", {.ignored_signals = {SIGHUP, SIGUSR1}});
    kill(held.running.pid, SIGHUP);
    kill(held.running.pid, SIGUSR1);
    held.lease.release();
    RunResult run = finish_within(held.running);
    EXPECT_EQ(run.exit_status, 0) << "ignored signals: " << run.signal;
}

// A run that is only waiting for another's lock removes nothing.
TEST(Dropgroup, SignalWhileWaitingRemovesNothing)
{
    ScratchDir scratch;
    scratch.write("kestro/active", active_text);
    scratch.write("kestro/active.n", "another run's lock");
    RunningProgram running = start_program("dropgroup", {"a"}, {.cwd = scratch.path()});
    EXPECT_TRUE(
        wait_for_state(running.pid, [](pid_t pid) { return waits_in_kernel(pid, "sleep"); }));
    kill(running.pid, SIGTERM);
    EXPECT_EQ(finish_within(running).signal, SIGTERM);
    EXPECT_EQ(scratch.read("kestro/active.n"), "another run's lock");
}

// Someone removes active.n by hand while the run that made it is held up,
// and another writer makes a new one: the first run must neither rename
// nor remove that file, whether it goes on to commit, cleans up after a
// failure, or dies of a signal.
TEST(Dropgroup, NeverRenamesOrRemovesAnotherWritersReplacement)
{
    const struct {
        const char* what;
        std::string active;
        std::optional<std::string> other;  // the new active.n; nullopt: none
        int signal;                        // sent to the held run, or 0
        std::string err;
    } cases[] = {
        {"the commit", active_text, "comp.lang.c 1 1 y\n", 0,
         system_error("kestro/active.n", EEXIST)},
        {"the commit, the lock removed and not taken again", active_text, std::nullopt, 0,
         system_error("kestro/active.n", ENOENT)},
        {"the clean-up after a malformed line", "a 1 1 y\nb 2\n", "comp.lang.c 1 1 y\n", 0,
         "kestro/active: malformed line\n" + system_error("kestro/active.n", EEXIST)},
        {"the signal handler", active_text, "comp.lang.c 1 1 y\n", SIGTERM, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        scratch.write("kestro/active", c.active);
        scratch.write("kestro/newsgroups", newsgroups_text);
        HeldRun held(scratch, "misc.test");
        if (!held.lease.held())
            GTEST_SKIP() << held.lease.why_not();
        ASSERT_EQ(unlink(scratch.at("kestro/active.n").c_str()), 0);
        if (c.other)
            scratch.write("kestro/active.n", *c.other);
        if (c.signal != 0)
            kill(held.running.pid, c.signal);
        held.lease.release();
        RunResult run = finish_within(held.running);
        EXPECT_EQ(run.signal, c.signal);
        EXPECT_EQ(run.exit_status, c.signal != 0 ? -1 : 1);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(scratch.read("kestro/active"), c.active);
        EXPECT_EQ(scratch.read("kestro/newsgroups"), newsgroups_text);
        EXPECT_EQ(scratch.exists("kestro/active.n"), c.other.has_value());
        if (c.other) {
            EXPECT_EQ(scratch.read("kestro/active.n"), *c.other);
        }
    }
}

// The error for a file to be rewritten that is neither a regular file
// nor a directory.
#ifdef EFTYPE
const int not_a_file = EFTYPE;
#else
const int not_a_file = EINVAL;
#endif

// A FIFO or a device in the place of a file is refused at once, rather
// than read while the lock is held; the files stay as they were.
TEST(Dropgroup, RefusesAFifoOrADevice)
{
    const struct {
        const char* what;
        const char* file;
        bool fifo;  // else a link to /dev/null
        std::string err;
    } cases[] = {
        {"active a FIFO", "kestro/active", true, system_error("kestro/active", not_a_file)},
        {"newsgroups a FIFO", "kestro/newsgroups", true,
         system_error("kestro/newsgroups", not_a_file)},
        {"active a device", "kestro/active", false, system_error("kestro/active", not_a_file)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        scratch.write("kestro/active", active_text);
        scratch.write("kestro/newsgroups", newsgroups_text);
        std::string path = scratch.at(c.file);
        unlink(path.c_str());
        ASSERT_EQ(c.fifo ? mkfifo(path.c_str(), 0644) : symlink("/dev/null", path.c_str()), 0);
        give_to_programs(path);
        RunningProgram running = start_program("dropgroup", {"misc.test"}, {.cwd = scratch.path()});
        RunResult run = finish_within(running);
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.err, c.err);
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(c.fifo ? S_ISFIFO(st.st_mode) : S_ISLNK(st.st_mode));
        EXPECT_FALSE(scratch.exists("kestro/active.n"));
        EXPECT_FALSE(scratch.exists("kestro/newsgroups.n"));
    }
}

// A write past the file size limit is a failed write, reported with the
// replacement path, not a death by SIGXFSZ that leaves the lock behind.
TEST(Dropgroup, FileSizeLimitIsAFailedWrite)
{
    ScratchDir scratch;
    std::string active;
    for (int i = 0; i < 4000; ++i)
        active += "group." + std::to_string(i) + " 1 1 y\n";
    scratch.write("kestro/active", active);
    scratch.write("kestro/newsgroups", newsgroups_text);
    RunResult run = run_program("dropgroup", {"misc.test"},
                                {.cwd = scratch.path(), .file_size_limit = 16384});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_TRUE(run.err.starts_with(system_error("kestro/active.n", EFBIG))) << run.err;
    EXPECT_EQ(scratch.read("kestro/active"), active);
    EXPECT_FALSE(scratch.exists("kestro/active.n"));
}

}  // namespace
