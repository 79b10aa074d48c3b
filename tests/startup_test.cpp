// What every program does first: become the account. Run by root that
// cannot switch, a program must stop before it does anything as root.
#include "error_text.h"
#include "feeds.h"
#include "run_program.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

// Without CAP_SETUID and CAP_SETGID root cannot become the account: each
// program reports that with its name and ends with status 1 before it
// looks at its arguments, so even a usage error is not reported.
TEST(Startup, RootThatCannotSwitchStops)
{
#ifdef __linux__
    if (!running_as_root() || programs_run_as_root())
        GTEST_SKIP() << "needs root and the programs' account";
    const struct {
        const char* program;
        std::vector<std::string> args;
    } cases[] = {
        {"dropgroup", {}},
        {"dropgroup", {"misc.test"}},
        {"feedgroups", {"alpha"}},
        {"feedqueue", {"comp/x/1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        ScratchDir scratch;
        scratch.write("kestro/active", "misc.test 1 1 y\n");
        scratch.write("kestro/newsgroups", "misc.test\tTesting.\n");
        set_up_feeds(scratch, "alpha\t*\n", {"alpha"});
        RunResult run = run_program(c.program, c.args,
                                    {.cwd = scratch.path(), .argv0 = c.program,
                                     .without_setid = true});
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.err, system_error(c.program, EPERM));
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(scratch.read("kestro/active"), "misc.test 1 1 y\n");
        EXPECT_FALSE(scratch.exists("kestro/active.n"));
        EXPECT_FALSE(scratch.exists(queue_path("alpha")));
    }
#else
    GTEST_SKIP() << "drops capabilities the Linux way";
#endif
}

}  // namespace
