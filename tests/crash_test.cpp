// Crash consistency: dropgroup and feedqueue are killed with SIGKILL at
// random moments of their work, and after every kill each file they write
// must be whole. The moments come from a fixed seed, spread over the time a
// full run takes. KESTRO_STRESS_ROUNDS=N multiplies the number of kills.
#include "feeds.h"
#include "random_articles.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "stress_rounds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const int kills_per_round = 40;
const unsigned seed = 20261210;

// The sanitizer build runs the programs several times slower; smaller
// inputs keep its runs, like those of the plain build, at tens of
// milliseconds, and the test at a few seconds.
#if defined(__SANITIZE_ADDRESS__)
const bool sanitized_build = true;
#elif defined(__has_feature)
const bool sanitized_build = __has_feature(address_sanitizer);
#else
const bool sanitized_build = false;
#endif

// Microseconds since start.
long elapsed_us(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
}

// Starts the program, kills it with SIGKILL after delay_us and reaps it.
RunResult run_and_kill(const std::string& name, const std::vector<std::string>& args,
                       const ScratchDir& scratch, long delay_us)
{
    RunningProgram running = start_program(name, args, {.cwd = scratch.path()});
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    kill(running.pid, SIGKILL);  // not yet reaped, so the pid is still ours
    return finish_program(running);
}

std::string group_name(int group)
{
    return "crash.group." + std::to_string(group);
}

// An active line in the normal form that a rewrite writes back, so that
// every kept line comes out byte for byte as it went in.
std::string active_line(int group)
{
    return group_name(group) + " " + std::to_string(group % 1000 * 7919) + " " +
           std::to_string(group) + " " + "ymn"[group % 3] + "\n";
}

// A newsgroups line, which a rewrite copies unchanged: some descriptions
// hold a second tab or end in a carriage return.
std::string newsgroups_line(int group)
{
    return group_name(group) + "\tDiscussion number " + std::to_string(group) +
           (group % 5 == 0 ? "\twith a tab" : "") + (group % 7 == 0 ? "\r\n" : "\n");
}

// The lines of the groups that are left, in file order, and the file text
// they make.
struct GroupFile {
    std::vector<std::string> lines;

    std::string text() const
    {
        std::string text;
        for (const std::string& line : lines)
            text += line;
        return text;
    }
};

// Where a killed dropgroup run was stopped, as its files show it.
struct DropKillCounts {
    int before_first_lock = 0;   // both files old, no replacement file
    int holding_active = 0;      // active.n left behind, both files old
    int between_files = 0;       // active new, newsgroups old, no replacement file
    int holding_newsgroups = 0;  // newsgroups.n left behind, active new
    int after_last_rename = 0;   // both files new, killed before it ended
    int finished = 0;            // ended by itself before the kill
};

// The two files as they are before and after one removal.
struct Versions {
    std::string active_old, newsgroups_old, active_new, newsgroups_new;
};

// Checks the files after a killed removal against their two versions,
// counts where the run was stopped and removes a stale replacement file.
void check_after_kill(const ScratchDir& scratch, const Versions& v, const RunResult& run,
                      DropKillCounts& counts)
{
    std::string active = scratch.read("kestro/active");
    std::string newsgroups = scratch.read("kestro/newsgroups");
    bool active_new = active == v.active_new;
    bool newsgroups_new = newsgroups == v.newsgroups_new;
    ASSERT_TRUE(active_new || active == v.active_old)
        << "active is neither version (" << active.size() << " bytes)";
    ASSERT_TRUE(newsgroups_new || newsgroups == v.newsgroups_old)
        << "newsgroups is neither version (" << newsgroups.size() << " bytes)";
    ASSERT_TRUE(active_new || !newsgroups_new) << "newsgroups first";
    bool active_lock = scratch.exists("kestro/active.n");
    bool newsgroups_lock = scratch.exists("kestro/newsgroups.n");
    // A replacement file exists only while its file is not yet renamed over.
    ASSERT_FALSE(active_lock && active_new);
    ASSERT_FALSE(newsgroups_lock && (newsgroups_new || !active_new));
    if (run.signal != SIGKILL) {
        ASSERT_EQ(run.exit_status, 0) << run.err;
        ASSERT_TRUE(newsgroups_new && !active_lock && !newsgroups_lock);
        ++counts.finished;
    } else if (active_lock) {
        ++counts.holding_active;
    } else if (newsgroups_lock) {
        ++counts.holding_newsgroups;
    } else {
        int& where = newsgroups_new ? counts.after_last_rename
                     : active_new   ? counts.between_files
                                    : counts.before_first_lock;
        ++where;
    }
    unlink(scratch.at("kestro/active.n").c_str());
    unlink(scratch.at("kestro/newsgroups.n").c_str());
}

// Runs dropgroup to its end and checks that it left the new versions;
// sets run_us to the time the run took.
void check_full_removal(const ScratchDir& scratch, const std::string& group, const Versions& v,
                        long& run_us)
{
    Clock::time_point start = Clock::now();
    RunResult run = run_program("dropgroup", {group}, {.cwd = scratch.path()});
    run_us = elapsed_us(start);
    ASSERT_EQ(run.exit_status, 0) << run.err;
    ASSERT_EQ(run.err, "");
    ASSERT_TRUE(scratch.read("kestro/active") == v.active_new) << "active after removing " << group;
    ASSERT_TRUE(scratch.read("kestro/newsgroups") == v.newsgroups_new)
        << "newsgroups after removing " << group;
    ASSERT_FALSE(scratch.exists("kestro/active.n"));
    ASSERT_FALSE(scratch.exists("kestro/newsgroups.n"));
}

// Removes the line at index victim from both files; gives the two
// versions of each file.
Versions remove_line(GroupFile& active, GroupFile& newsgroups, size_t victim)
{
    Versions v{active.text(), newsgroups.text(), "", ""};
    active.lines.erase(active.lines.begin() + static_cast<long>(victim));
    newsgroups.lines.erase(newsgroups.lines.begin() + static_cast<long>(victim));
    v.active_new = active.text();
    v.newsgroups_new = newsgroups.text();
    return v;
}

// Each kill lands at a random moment of a removal from files large enough
// that a run takes tens of milliseconds. Afterwards each file is its old or
// its new version byte for byte, newsgroups is never new before active, a
// replacement file may be left behind, and once it is removed the same
// removal run again ends with the right result.
TEST(CrashConsistency, KilledDropgroupLeavesEachFileOldOrNew)
{
    const int kills = kills_per_round * stress_rounds();
    // Each kill removes a group for good, so long runs need more of them.
    const int group_count = std::max(sanitized_build ? 4000 : 10000, 2 * kills);
    ScratchDir scratch;
    std::vector<int> groups(group_count);
    GroupFile active;
    GroupFile newsgroups;
    for (int group = 0; group < group_count; ++group) {
        groups[static_cast<size_t>(group)] = group;
        active.lines.push_back(active_line(group));
        newsgroups.lines.push_back(newsgroups_line(group));
    }
    scratch.write("kestro/active", active.text());
    scratch.write("kestro/newsgroups", newsgroups.text());

    std::mt19937 random(seed);
    DropKillCounts counts;
    long run_us = 0;  // how long the last full run took
    for (int k = -1; k < kills; ++k) {
        size_t victim = random() % groups.size();
        std::string group = group_name(groups[victim]);
        groups.erase(groups.begin() + static_cast<long>(victim));
        Versions v = remove_line(active, newsgroups, victim);
        // The first removal only times a full run, over which the kills
        // are spread from then on.
        if (k >= 0) {
            SCOPED_TRACE("kill " + std::to_string(k));
            long delay_us = std::uniform_int_distribution<long>(0, run_us)(random);
            RunResult run = run_and_kill("dropgroup", {group}, scratch, delay_us);
            ASSERT_NO_FATAL_FAILURE(check_after_kill(scratch, v, run, counts));
        }
        ASSERT_NO_FATAL_FAILURE(check_full_removal(scratch, group, v, run_us));
    }
    printf("dropgroup: %d kills over runs of about %ld us: %d before the first lock, "
           "%d holding active.n, %d between the files, %d holding newsgroups.n, "
           "%d after the last rename, %d finished first\n",
           kills, run_us, counts.before_first_lock, counts.holding_active, counts.between_files,
           counts.holding_newsgroups, counts.after_last_rename, counts.finished);
    // Without kills inside the rewrites the test would prove nothing.
    EXPECT_GT(counts.holding_active + counts.holding_newsgroups, 0);
}

// The groups of the articles that feedqueue runs queue: those of two
// feeds, and one that no rule matches.
const std::string article_groups[3] = {"crash/north", "crash/south", "other"};

const char* const feeds[] = {"north", "south"};

// The index of the feed an article is queued for, or -1 if no rule
// matches it.
int feed_of(const std::string& article)
{
    for (int f = 0; f < 2; ++f) {
        if (article.starts_with("crash/" + std::string(feeds[f]) + "/"))
            return f;
    }
    return -1;
}

// True for the articles that a rule matches.
bool is_queued(const std::string& article)
{
    return feed_of(article) >= 0;
}

// The lines the first count arguments add to the queue file of feed f.
std::string queued_lines(const std::vector<std::string>& args, size_t count, int f)
{
    std::string lines;
    for (size_t i = 0; i < count; ++i) {
        if (feed_of(args[i]) == f)
            lines += args[i] + "\n";
    }
    return lines;
}

// What the queue files held at the last check.
struct QueueState {
    std::string text[2];
};

// The first argument from index on that a rule matches, or "" if none.
std::string next_article(const std::vector<std::string>& args, size_t index)
{
    for (; index < args.size(); ++index) {
        if (is_queued(args[index]))
            return args[index];
    }
    return "";
}

// Checks each queue file after a kill: it has only been appended to; a
// piece of a line that an earlier kill left has been ended by a line feed
// before any new line; the new lines are whole and are the articles of the
// killed run's first arguments, in order, once each; and after them comes
// at most the start of the line the run was writing. Returns the number of
// lines the run added; counts the pieces it left.
size_t check_queues_after_kill(const ScratchDir& scratch, const std::vector<std::string>& args,
                               QueueState& state, int& pieces)
{
    size_t lines = 0;
    std::string added[2];
    std::string tail[2];
    for (int f = 0; f < 2; ++f) {
        std::string path = queue_path(feeds[f]);
        std::string text = scratch.exists(path) ? scratch.read(path) : "";
        const std::string& known = state.text[f];
        EXPECT_EQ(text.compare(0, known.size(), known), 0)
            << "earlier bytes of " << feeds[f] << " changed";
        std::string rest = text.substr(std::min(text.size(), known.size()));
        if (!known.empty() && known.back() != '\n' && !rest.empty()) {
            EXPECT_EQ(rest[0], '\n') << "a piece in " << feeds[f] << " was continued";
            rest.erase(0, 1);
        }
        added[f] = rest.substr(0, rest.rfind('\n') + 1);  // all of it up to the last line feed
        tail[f] = rest.substr(added[f].size());
        lines += static_cast<size_t>(std::count(added[f].begin(), added[f].end(), '\n'));
        state.text[f] = text;
    }
    // The run queues its arguments one after the other, so the articles
    // queued are those of the first arguments, up to the one it was at.
    size_t reached = 0;
    for (size_t queued = 0; reached < args.size() && queued < lines; ++reached) {
        if (is_queued(args[reached]))
            ++queued;
    }
    const std::string next = next_article(args, reached);
    for (int f = 0; f < 2; ++f) {
        EXPECT_TRUE(added[f] == queued_lines(args, reached, f))
            << "lines added to " << feeds[f] << " are not the run's first articles in order";
        bool new_piece = feed_of(next) == f && next.starts_with(tail[f]);
        EXPECT_TRUE(tail[f].empty() || new_piece)
            << feeds[f] << " ends in a stray piece: " << tail[f];
        pieces += !tail[f].empty();
    }
    return lines;
}

// Each kill lands at a random moment of a run that queues many
// articles for two feeds. Afterwards the bytes already there are untouched,
// the lines added are whole, in the order of the arguments, each once, and
// a piece of the line being written when the kill came is at most at the
// end, where the next run that writes there ends it with a line feed.
TEST(CrashConsistency, KilledFeedqueueLeavesOnlyWholeLines)
{
    const int articles = sanitized_build ? 500 : 1500;
    ScratchDir scratch;
    set_up_feeds(scratch, "north\tcrash.north.*\nsouth\tcrash.south.*\n", {"north", "south"});

    std::mt19937 random(seed);
    const int rounds = stress_rounds();
    int run_number = 0;
    long run_us = 0;
    int interrupted = 0;
    int pieces = 0;  // kills that left a piece of a line
    for (int round = 0; round < rounds; ++round) {
        // Each round begins with empty queues and a full run, which gives
        // the span over which its kills are spread.
        QueueState queues;
        for (const char* feed : feeds)
            unlink(scratch.at(queue_path(feed)).c_str());
        std::vector<std::string> args =
            random_articles(article_groups, run_number++, articles, random);
        Clock::time_point start = Clock::now();
        RunResult full = run_program("feedqueue", args, {.cwd = scratch.path()});
        run_us = elapsed_us(start);
        ASSERT_EQ(full.exit_status, 0) << full.err;
        size_t matched = static_cast<size_t>(std::count_if(args.begin(), args.end(), is_queued));
        ASSERT_EQ(check_queues_after_kill(scratch, args, queues, pieces), matched);

        for (int k = 0; k < kills_per_round; ++k) {
            SCOPED_TRACE("round " + std::to_string(round) + ", kill " + std::to_string(k));
            args = random_articles(article_groups, run_number++, articles, random);
            long delay_us = std::uniform_int_distribution<long>(0, run_us)(random);
            RunResult run = run_and_kill("feedqueue", args, scratch, delay_us);
            size_t lines = check_queues_after_kill(scratch, args, queues, pieces);
            matched = static_cast<size_t>(std::count_if(args.begin(), args.end(), is_queued));
            if (run.signal == SIGKILL && lines > 0 && lines < matched)
                ++interrupted;
            ASSERT_FALSE(testing::Test::HasFailure());
        }
    }
    printf("feedqueue: %d kills over runs of about %ld us, %d in the middle of the articles, "
           "%d leaving a piece of a line\n",
           kills_per_round * rounds, run_us, interrupted, pieces);
    EXPECT_GT(interrupted, 0);
}

}  // namespace
