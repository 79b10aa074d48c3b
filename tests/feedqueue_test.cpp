// feedqueue end to end: the test build runs in a scratch folder whose
// "kestro" directory holds newsfeeds and, below "kestro/suck", the feeds'
// queue directories.
#include "error_text.h"
#include "feeds.h"
#include "process_state.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "strace_faults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#endif

namespace {

// Runs feedqueue in the scratch folder, named plainly "feedqueue".
RunResult feedqueue(const ScratchDir& scratch, const std::vector<std::string>& args,
                    mode_t umask = 022)
{
    return run_program("feedqueue", args,
                       {.cwd = scratch.path(), .umask = umask, .argv0 = "feedqueue"});
}

// The contents of a file, or nullopt when it does not exist.
std::optional<std::string> contents(const ScratchDir& scratch, const std::string& relative)
{
    if (!scratch.exists(relative))
        return std::nullopt;
    return scratch.read(relative);
}

// Narrow rules before broad ones; the rule with the empty feed name and
// the empty pattern takes only articles whose group part is empty.
const char routing_rules[] =
    "# narrow rules first\n"
    "alpha\tcomp.lang.*\n"
    "beta\tcomp.*\n"
    "alpha\tsci.*\n"
    "beta\tsci.physics\n"
    "\n"
    "\t\n"
    "gamma\t*\n";

struct RoutingCase {
    const char* what;
    std::vector<std::string> args;
    // What each queue file holds afterwards; nullopt: it was not created.
    std::optional<std::string> alpha, beta, gamma, empty_feed;
};

TEST(Feedqueue, QueuesEachArticleForItsFirstMatchingRule)
{
    const auto none = std::nullopt;
    const RoutingCase cases[] = {
        {"first matching rule wins across feeds", {"comp/lang/c/123"},
         "comp/lang/c/123\n", none, none, none},
        {"a later rule of another feed", {"comp/os/linux/7"}, none, "comp/os/linux/7\n", none, none},
        {"an earlier broad rule wins over a later exact one", {"sci/physics/9"},
         "sci/physics/9\n", none, none, none},
        {"argument order kept, a repeated argument queued twice",
         {"comp/lang/c/1", "comp/os/2", "comp/lang/c++/3", "comp/lang/c/1"},
         "comp/lang/c/1\ncomp/lang/c++/3\ncomp/lang/c/1\n", "comp/os/2\n", none, none},
        {"lines are the arguments byte for byte",
         {"comp/lang/c/a b\tc\r", "comp/lang/\xe9t\xe9/5"},
         "comp/lang/c/a b\tc\r\ncomp/lang/\xe9t\xe9/5\n", none, none, none},
        {"the group part is the whole directory", {"/var/spool/news/comp/lang/c/5"},
         none, none, "/var/spool/news/comp/lang/c/5\n", none},
        {"an argument ending in a slash", {"comp/lang/c/"}, "comp/lang/c/\n", none, none, none},
        {"arguments beginning with a dash are article paths",
         {"-n/1", "--help/x", "-comp/lang/c/2"}, none, none, "-n/1\n--help/x\n-comp/lang/c/2\n",
         none},
        {"arguments without a slash are passed over",
         {"123", "", "-", "--", "comp.lang.c"}, none, none, none, none},
        {"only a leading slash: the empty group part, the empty feed name",
         {"/123", "/", "x/1"}, none, none, "x/1\n", "/123\n/\n"},
        {"no argument", {}, none, none, none, none},
    };
    for (const RoutingCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        set_up_feeds(scratch, routing_rules, {"alpha", "beta", "gamma"});
        RunResult result = feedqueue(scratch, c.args);
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(contents(scratch, queue_path("alpha")), c.alpha);
        EXPECT_EQ(contents(scratch, queue_path("beta")), c.beta);
        EXPECT_EQ(contents(scratch, queue_path("gamma")), c.gamma);
        // The empty feed name makes the path kestro/suck//outgoing.
        EXPECT_EQ(contents(scratch, "kestro/suck/outgoing"), c.empty_feed);
    }
}

struct EarlyEndCase {
    const char* what;
    std::optional<std::string> newsfeeds;  // nullopt: missing
    std::vector<std::string> args;
    std::string err;
};

// Without a usable rule list nothing is queued, whatever the arguments.
TEST(Feedqueue, EndsWithStatus1BeforeQueueingWithoutRules)
{
    const EarlyEndCase cases[] = {
        {"empty newsfeeds, no argument", "", {}, ""},
        {"empty newsfeeds, an argument", "", {"comp/a/1"}, ""},
        {"comments and empty lines only", "# none\n\n#alpha\t*\n", {"comp/a/1"}, ""},
        {"newsfeeds missing", std::nullopt, {"comp/a/1"},
         system_error("kestro/newsfeeds", ENOENT)},
        {"a malformed line after a good rule", "alpha\t*\nno tab\n", {"comp/a/1"},
         "kestro/newsfeeds: malformed line\n"},
    };
    for (const EarlyEndCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        set_up_feeds(scratch, c.newsfeeds.value_or(""), {"alpha"});
        if (!c.newsfeeds)
            unlink(scratch.at("kestro/newsfeeds").c_str());
        RunResult result = feedqueue(scratch, c.args);
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.err, c.err);
        EXPECT_FALSE(scratch.exists(queue_path("alpha")));
    }
}

TEST(Feedqueue, MissingFeedDirectoryStopsTheRun)
{
    ScratchDir scratch;
    set_up_feeds(scratch, "alpha\tcomp.*\nnowhere\tsci.*\n", {"alpha"});
    RunResult result = feedqueue(scratch, {"comp/a/1", "sci/b/2", "comp/a/3"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, system_error(queue_path("nowhere"), ENOENT));
    EXPECT_EQ(scratch.read(queue_path("alpha")), "comp/a/1\n");
    EXPECT_FALSE(scratch.exists("kestro/suck/nowhere"));
}

// A line feed would let the argument add a line of its choosing; such an
// argument is refused wherever it holds one, matched by a rule or not.
TEST(Feedqueue, RefusesAnArgumentHoldingALineFeed)
{
    const char* const bad_arguments[] = {
        "comp/a/x\ncomp/evil/2", "comp/a/1\n", "\n", "comp\n/1", "nogroup\n",
    };
    for (const char* bad : bad_arguments) {
        SCOPED_TRACE(bad);
        ScratchDir scratch;
        set_up_feeds(scratch, "alpha\tcomp.*\n", {"alpha"});
        RunResult result = feedqueue(scratch, {"comp/a/first", bad, "comp/a/last"});
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.err, "feedqueue: article path holds a line feed\n");
        EXPECT_EQ(scratch.read(queue_path("alpha")), "comp/a/first\n");
    }
}

TEST(Feedqueue, CreatesTheQueueFile0644WhateverTheUmask)
{
    for (mode_t umask : {mode_t{0}, mode_t{077}, mode_t{022}}) {
        SCOPED_TRACE(umask);
        ScratchDir scratch;
        set_up_feeds(scratch, "alpha\t*\n", {"alpha"});
        RunResult result = feedqueue(scratch, {"comp/a/1"}, umask);
        EXPECT_EQ(result.exit_status, 0);
        struct stat st;
        ASSERT_EQ(stat(scratch.at(queue_path("alpha")).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u);
        EXPECT_EQ(st.st_uid, program_uid());
        EXPECT_EQ(scratch.read(queue_path("alpha")), "comp/a/1\n");
    }
}

TEST(Feedqueue, AppendsToAnExistingQueueFileAndLeavesItsMode)
{
    ScratchDir scratch;
    set_up_feeds(scratch, "alpha\t*\n", {"alpha"});
    scratch.write(queue_path("alpha"), "old/1\n", 0600);
    RunResult result = feedqueue(scratch, {"new/2"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(scratch.read(queue_path("alpha")), "old/1\nnew/2\n");
    struct stat st;
    ASSERT_EQ(stat(scratch.at(queue_path("alpha")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// A feed name may be as long as a newsfeeds line allows: the queue path is
// formed whole, and what the system refuses is reported with that path.
TEST(Feedqueue, LongFeedNames)
{
    std::string deep;  // many short components, over 1024 bytes in the path
    while (deep.size() < 1000)
        deep += "deepdir0/";
    deep += "end";
    const std::string huge(1000, 'n');  // one component too long for a name
    ScratchDir scratch;
    set_up_feeds(scratch, deep + "\tcomp.*\n" + huge + "\tsci.*\n", {});
    for (size_t slash = 0; (slash = deep.find('/', slash + 1)) != std::string::npos;)
        scratch.make_dir("kestro/suck/" + deep.substr(0, slash));
    scratch.make_dir("kestro/suck/" + deep);
    ASSERT_GT(queue_path(deep).size(), 1024u);

    RunResult result = feedqueue(scratch, {"comp/a/1", "sci/b/2", "comp/a/3"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_TRUE(result.err == system_error(queue_path(huge), ENAMETOOLONG) ||
                result.err == system_error(queue_path(huge), ENOENT))
        << result.err;
    EXPECT_EQ(scratch.read(queue_path(deep)), "comp/a/1\n");
}

#ifdef __linux__
// A tmpfs of one page, owned by the programs' account, mounted over a
// directory in a mount namespace of this test process alone, and
// unmounted again when the object goes.
struct TinyFilesystem {
    std::string dir;
    bool mounted = false;

    explicit TinyFilesystem(const std::string& where) : dir(where)
    {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return;
        std::string options = "size=4k,mode=0755,uid=" + std::to_string(program_uid()) +
                              ",gid=" + std::to_string(program_gid());
        mounted = mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~TinyFilesystem()
    {
        if (mounted)
            umount2(dir.c_str(), MNT_DETACH);
    }
};
#endif

// A line that does not fit is cut back off: the next line must not be
// glued onto a piece of it.
TEST(Feedqueue, FailedWriteLeavesNoPartialLine)
{
#ifdef __linux__
    if (!running_as_root())
        GTEST_SKIP() << "mounting a small filesystem needs root";
    ScratchDir scratch;
    set_up_feeds(scratch, "full\tcomp.*\n", {"full"});
    TinyFilesystem filesystem(scratch.at("kestro/suck/full"));
    if (!filesystem.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << error_text(errno);
    // 4000 of the 4096 bytes taken: the next short line fits, and a long
    // one is written in part before the filesystem is full.
    const std::string queue = queue_path("full");
    const std::string before = "comp/old/" + std::string(3990, 'o') + "\n";
    scratch.write(queue, before);
    RunResult result =
        feedqueue(scratch, {"comp/new/1", "comp/new/" + std::string(300, 'x'), "comp/new/3"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, system_error(queue, ENOSPC));
    std::string after = scratch.read(queue);
    EXPECT_EQ(after.size(), before.size() + 11);
    EXPECT_TRUE(after.starts_with(before));
    EXPECT_EQ(after.substr(std::min(after.size(), before.size())), "comp/new/1\n");

    // When the part written cannot be taken back either, both failures are
    // reported and the part stays: the next run's line starts on a line of
    // its own all the same.
    SKIP_WITHOUT_STRACE();
    scratch.write(queue, before);
    result = run_with_faults("feedqueue", scratch, {"comp/new/" + std::string(300, 'x')},
                             {{"ftruncate", EIO, 1}}, {queue});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, system_error(queue, ENOSPC) + system_error(queue, EIO));
    after = scratch.read(queue);
    EXPECT_GT(after.size(), before.size());
    EXPECT_TRUE(after.starts_with(before + "comp/new/"));
#else
    GTEST_SKIP() << "needs a Linux mount namespace";
#endif
}

// A queue file is only ever appended to. A last line without its line
// feed (another writer's, or a piece that a killed run left) is ended
// with one in the same write as the new line, never cut off.
TEST(Feedqueue, NeverShortensTheQueue)
{
    std::string large;
    while (large.size() < 200000)
        large += "comp/lang/c/" + std::to_string(large.size()) + "\n";
    const struct {
        const char* what;
        std::string before;
    } cases[] = {
        {"another writer's line without its line feed", "comp/lang/c/1\ncomp/lang/c/42"},
        {"a piece alone", "c"},
        {"a large file without its last line feed", large + "comp/lang/c/unfinished"},
        {"whole lines", "comp/lang/c/1\n"},
        {"an empty file", ""},
        {"a line feed alone", "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        set_up_feeds(scratch, "alpha\t*\n", {"alpha"});
        scratch.write(queue_path("alpha"), c.before);
        RunResult result = feedqueue(scratch, {"comp/x/1", "comp/x/2"});
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.err, "");
        bool unfinished = !c.before.empty() && c.before.back() != '\n';
        EXPECT_EQ(scratch.read(queue_path("alpha")),
                  c.before + (unfinished ? "\n" : "") + "comp/x/1\ncomp/x/2\n");
    }
}

// A run waits while another process holds the queue's lock, and writes
// nothing meanwhile. A consumer drains a queue by taking its lock and
// renaming or removing it: a run that opened the file before and waited
// for the lock writes to the file that the path names once the lock is
// its own.
TEST(Feedqueue, QueueTakenAwayWhileWaitingForTheLock)
{
#ifdef __linux__
    enum class Taken { not_at_all, renamed, removed };  // renamed to outgoing.work
    const struct {
        const char* what;
        Taken taken;
        std::optional<std::string> new_queue;  // put in its place, or none
        std::string after;
    } cases[] = {
        {"the queue left in place", Taken::not_at_all, std::nullopt, "old/1\ncomp/a/1\n"},
        {"renamed away", Taken::renamed, std::nullopt, "comp/a/1\n"},
        {"removed", Taken::removed, std::nullopt, "comp/a/1\n"},
        {"renamed away and a new queue made", Taken::renamed, "new/0\n", "new/0\ncomp/a/1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        set_up_feeds(scratch, "alpha\t*\n", {"alpha"});
        const std::string queue = queue_path("alpha");
        const std::string path = scratch.at(queue);
        scratch.write(queue, "old/1\n");
        int fd = lock_queue(path);
        ASSERT_GE(fd, 0);
        RunningProgram running = start_program("feedqueue", {"comp/a/1"}, {.cwd = scratch.path()});
        EXPECT_TRUE(wait_for_state(running.pid, waits_for_flock))
            << "feedqueue did not wait for the lock";
        EXPECT_EQ(scratch.read(queue), "old/1\n");
        if (c.taken == Taken::renamed) {
            ASSERT_EQ(rename(path.c_str(), (path + ".work").c_str()), 0);
        } else if (c.taken == Taken::removed) {
            ASSERT_EQ(unlink(path.c_str()), 0);
        }
        if (c.new_queue)
            scratch.write(queue, *c.new_queue);
        close(fd);
        RunResult result = finish_within(running);
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(scratch.read(queue), c.after);
        if (c.taken == Taken::renamed) {
            EXPECT_EQ(scratch.read(queue + ".work"), "old/1\n");
        }
    }
#else
    GTEST_SKIP() << "needs /proc/locks to see the wait";
#endif
}

// A queue that the account may write but not read still gets its line,
// without the look at its last byte.
TEST(Feedqueue, WriteOnlyQueueGetsItsLine)
{
    if (programs_run_as_root())
        GTEST_SKIP() << "the programs run as root, which may read anything";
    ScratchDir scratch;
    set_up_feeds(scratch, "alpha\t*\n", {"alpha"});
    scratch.write(queue_path("alpha"), "old/1\n", 0200);
    RunResult result = feedqueue(scratch, {"comp/x/1", "comp/x/2"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
    chmod(scratch.at(queue_path("alpha")).c_str(), 0600);
    EXPECT_EQ(scratch.read(queue_path("alpha")), "old/1\ncomp/x/1\ncomp/x/2\n");
}

// A queue that is a FIFO is written as a FIFO is: the run waits for a
// reader, and the reader gets the lines.
TEST(Feedqueue, FifoQueueWaitsForAReader)
{
#ifdef __linux__
    ScratchDir scratch;
    set_up_feeds(scratch, "alpha\t*\n", {"alpha"});
    std::string path = scratch.at(queue_path("alpha"));
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    give_to_programs(path);
    RunningProgram running = start_program("feedqueue", {"comp/x/1"}, {.cwd = scratch.path()});
    ASSERT_TRUE(wait_for_state(running.pid,
                               [](pid_t pid) { return waits_in_kernel(pid, "partner"); }))
        << "feedqueue did not wait for a reader";
    std::string got = read_file(path);
    RunResult result = finish_within(running);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(got, "comp/x/1\n");
#else
    GTEST_SKIP() << "needs /proc to see the wait";
#endif
}

}  // namespace
