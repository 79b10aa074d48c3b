// Concurrency: dropgroup, feedgroups and feedqueue runs at the same time in
// one configuration directory. Removals start at random moments, several
// of them together; feedgroups lists a feed over and over until they are
// done, from an active larger than one read; feedqueue runs append lines of
// varied lengths to two shared queue files all the while. This is the home
// of the programs' concurrency checks; their own tests hold the waits for
// a lock that a test sets up step by step.
// KESTRO_STRESS_ROUNDS=N repeats the whole mix N times.
#include "feeds.h"
#include "process_state.h"
#include "random_articles.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "stress_rounds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const int group_count = 6000;           // active lines, some 170 KB: two reads
const int removal_count = 10;           // dropgroup runs, one group each
const int removals_at_once = 5;         // of them started together at first
const long removal_window_us = 1000000;  // the others start within this
const size_t listers_in_flight = 4;     // feedgroups runs at a time
const size_t queuers_in_flight = 4;     // feedqueue runs at a time
const int articles_per_queuer = 100;
const char* const queue_feeds[] = {"feed.a", "feed.b"};

// Group names: every fourth is one the listed feed does not carry; of the
// others the even ones are matched by both of its patterns.
std::string group_name(int group)
{
    if (group % 4 == 0)
        return "other.group" + std::to_string(group);
    return std::string(group % 2 == 0 ? "stress.even." : "stress.odd.") + std::to_string(group);
}

// Lines in normal form, so that a rewrite keeps every other line as it is.
std::string active_line(int group)
{
    return group_name(group) + " " + std::to_string(group * 31) + " " + std::to_string(group) +
           " y\n";
}

std::string newsgroups_line(int group)
{
    return group_name(group) + "\tAbout group number " + std::to_string(group) + ".\n";
}

// How often feedgroups lists the line of a group: once for each of the
// feed's patterns stress.* and stress.even.* that matches it.
int times_listed(int group)
{
    std::string name = group_name(group);
    return (name.rfind("stress.", 0) == 0) + (name.rfind("stress.even.", 0) == 0);
}

// The file text of the groups that are not in removed.
std::string file_text(const std::set<int>& removed, std::string (*line)(int))
{
    std::string text;
    for (int group = 0; group < group_count; ++group) {
        if (removed.count(group) == 0)
            text += line(group);
    }
    return text;
}

// What feedgroups lists from active without the removed groups.
std::string expected_listing(const std::set<int>& removed)
{
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> all;
        for (int group = 0; group < group_count; ++group)
            all.push_back(active_line(group));
        return all;
    }();
    std::string text;
    for (int group = 0; group < group_count; ++group) {
        for (int i = removed.count(group) ? 0 : times_listed(group); i > 0; --i)
            text += lines[static_cast<size_t>(group)];
    }
    return text;
}

// Checks that a listing is that of one complete version of active: the
// original less the lines of some of the removed groups. Those whose line
// is missing from the listing decide which version it must be. Returns how
// many removals the version held, or -1 if it is none.
int listed_version(const std::string& listing, const std::vector<int>& removals)
{
    std::string lines = "\n" + listing;
    std::set<int> removed;
    for (int group : removals) {
        if (lines.find("\n" + active_line(group)) == std::string::npos)
            removed.insert(group);
    }
    return listing == expected_listing(removed) ? static_cast<int>(removed.size()) : -1;
}

// The arguments of one feedqueue run: articles of the two queue feeds in a
// random mix, now and then one that no rule matches.
std::vector<std::string> queue_arguments(int run, std::mt19937& random)
{
    static const std::string groups[3] = {"queue/a", "queue/b", "no/rule"};
    return random_articles(groups, run, articles_per_queuer, random);
}

// Checks a queue file: whole lines only, each article queued for the feed
// exactly once, and the articles of each run in the order of its
// arguments. Returns the number of lines.
size_t check_queue_file(const std::string& text, const std::string& feed,
                        const std::vector<std::vector<std::string>>& runs)
{
    std::string prefix = std::string("queue/") + feed.back() + "/";
    // The articles each run queued for this feed, in order.
    std::vector<std::deque<std::string>> pending(runs.size());
    for (size_t run = 0; run < runs.size(); ++run) {
        for (const std::string& article : runs[run]) {
            if (article.rfind(prefix, 0) == 0)
                pending[run].push_back(article);
        }
    }
    EXPECT_TRUE(text.empty() || text.back() == '\n') << feed << " ends in a partial line";
    size_t lines = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line); ++lines) {
        size_t run = 0;
        // The run number is the part between the group and the article number.
        bool named = line.rfind(prefix, 0) == 0 &&
                     sscanf(line.c_str() + prefix.size(), "%zu/", &run) == 1 &&
                     run < runs.size();
        if (!named || pending[run].empty() || pending[run].front() != line) {
            ADD_FAILURE() << feed << " line " << lines << " is not the next article of a run: "
                          << line;
            return lines;
        }
        pending[run].pop_front();
    }
    for (size_t run = 0; run < runs.size(); ++run)
        EXPECT_TRUE(pending[run].empty()) << feed << ": articles of run " << run << " missing";
    return lines;
}

// Figures of the runs of a round, added up over the rounds.
struct StressCounts {
    int removals = 0;
    int listings = 0;
    int listings_mid_way = 0;  // of a version with some but not all removals
    int queuers = 0;
    size_t queued_lines = 0;
    size_t most_at_once = 0;
};

// The configuration directory of a round: active and newsgroups in full,
// the listed feed's two rules and the rules and directories of the two
// queue feeds.
void set_up_round(const ScratchDir& scratch)
{
    scratch.write("kestro/active", file_text({}, active_line));
    scratch.write("kestro/newsgroups", file_text({}, newsgroups_line));
    set_up_feeds(scratch,
                 "lister\tstress.*\nlister\tstress.even.*\n"
                 "feed.a\tqueue.a.*\nfeed.b\tqueue.b.*\n",
                 {queue_feeds[0], queue_feeds[1]});
}

// The removals of a round: distinct groups, listed and unlisted alike, and
// when each starts, in microseconds from the start of the round.
struct Removal {
    int group;
    long start_us;
};

std::vector<Removal> plan_removals(std::mt19937& random)
{
    std::vector<Removal> removals;
    while (static_cast<int>(removals.size()) < removal_count) {
        int group = static_cast<int>(random() % group_count);
        if (std::any_of(removals.begin(), removals.end(),
                        [group](const Removal& r) { return r.group == group; }))
            continue;
        bool at_once = static_cast<int>(removals.size()) < removals_at_once;
        removals.push_back({group, at_once ? 0 : static_cast<long>(random() % removal_window_us)});
    }
    std::sort(removals.begin(), removals.end(),
              [](const Removal& a, const Removal& b) { return a.start_us < b.start_us; });
    return removals;
}

// The runs of a round and what they did.
struct Mix {
    std::vector<RunningProgram> droppers;
    std::deque<RunningProgram> listers;
    std::deque<RunningProgram> queuers;
    std::vector<std::vector<std::string>> queued;  // the arguments of each feedqueue run
    std::vector<RunResult> listings;
    std::vector<RunResult> queue_runs;
};

// The number of the mix's runs that have not ended.
size_t running_now(const Mix& mix)
{
    auto alive = [](const RunningProgram& p) { return still_running(p.pid); };
    return static_cast<size_t>(std::count_if(mix.droppers.begin(), mix.droppers.end(), alive) +
                               std::count_if(mix.listers.begin(), mix.listers.end(), alive) +
                               std::count_if(mix.queuers.begin(), mix.queuers.end(), alive));
}

// Starts the removals as they come due and keeps listings and queueing
// runs going, a few of each at a time, until every removal has ended; then
// collects the listings and queueing runs.
void run_mix(const std::string& folder, const std::vector<Removal>& removals,
             std::mt19937& random, Mix& mix, StressCounts& counts)
{
    const RunOptions in_folder{.cwd = folder};
    Clock::time_point start = Clock::now();
    auto due = [&](const Removal& removal) {
        return Clock::now() - start >= std::chrono::microseconds(removal.start_us);
    };
    auto removals_running = [&] {
        return std::any_of(mix.droppers.begin(), mix.droppers.end(),
                           [](const RunningProgram& p) { return still_running(p.pid); });
    };
    while (mix.droppers.size() < removals.size() || removals_running()) {
        while (mix.droppers.size() < removals.size() && due(removals[mix.droppers.size()])) {
            std::string group = group_name(removals[mix.droppers.size()].group);
            mix.droppers.push_back(start_program("dropgroup", {group}, in_folder));
        }
        mix.listers.push_back(start_program("feedgroups", {"lister"}, in_folder));
        mix.queued.push_back(queue_arguments(static_cast<int>(mix.queued.size()), random));
        mix.queuers.push_back(start_program("feedqueue", mix.queued.back(), in_folder));
        counts.most_at_once = std::max(counts.most_at_once, running_now(mix));
        if (mix.listers.size() >= listers_in_flight) {
            mix.listings.push_back(finish_program(mix.listers.front()));
            mix.listers.pop_front();
        }
        if (mix.queuers.size() >= queuers_in_flight) {
            mix.queue_runs.push_back(finish_program(mix.queuers.front()));
            mix.queuers.pop_front();
        }
    }
    for (RunningProgram& running : mix.listers)
        mix.listings.push_back(finish_program(running));
    for (RunningProgram& running : mix.queuers)
        mix.queue_runs.push_back(finish_program(running));
}

// Every removal ended well, and active and newsgroups hold exactly the
// groups not removed.
void check_removals(const ScratchDir& scratch, const std::vector<Removal>& removals, Mix& mix)
{
    for (RunningProgram& running : mix.droppers) {
        RunResult run = finish_program(running);
        EXPECT_EQ(run.exit_status, 0) << run.err;
        EXPECT_EQ(run.err, "");
    }
    std::set<int> removed;
    for (const Removal& removal : removals)
        removed.insert(removal.group);
    EXPECT_TRUE(scratch.read("kestro/active") == file_text(removed, active_line))
        << "active does not hold exactly the groups not removed";
    EXPECT_TRUE(scratch.read("kestro/newsgroups") == file_text(removed, newsgroups_line))
        << "newsgroups does not hold exactly the groups not removed";
    EXPECT_FALSE(scratch.exists("kestro/active.n"));
    EXPECT_FALSE(scratch.exists("kestro/newsgroups.n"));
}

// Every listing ended well and is that of one complete version of active.
void check_listings(const std::vector<Removal>& removals, const Mix& mix, StressCounts& counts)
{
    std::vector<int> groups;
    for (const Removal& removal : removals)
        groups.push_back(removal.group);
    int listed = static_cast<int>(
        std::count_if(groups.begin(), groups.end(), [](int g) { return times_listed(g) > 0; }));
    for (size_t i = 0; i < mix.listings.size(); ++i) {
        const RunResult& run = mix.listings[i];
        EXPECT_EQ(run.exit_status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        int version = listed_version(run.out, groups);
        EXPECT_GE(version, 0) << "listing " << i << " is that of no complete version of active";
        counts.listings_mid_way += version > 0 && version < listed;
    }
}

// Every queueing run ended well, and the queue files hold each of their
// articles once, whole and in order, and nothing else.
size_t check_queues(const ScratchDir& scratch, const Mix& mix)
{
    for (const RunResult& run : mix.queue_runs) {
        EXPECT_EQ(run.exit_status, 0) << run.err;
        EXPECT_EQ(run.err, "");
    }
    size_t expected = 0;
    auto is_queued = [](const std::string& article) { return article.starts_with("queue/"); };
    for (const std::vector<std::string>& args : mix.queued)
        expected += static_cast<size_t>(std::count_if(args.begin(), args.end(), is_queued));
    size_t lines = 0;
    for (const char* feed : queue_feeds) {
        std::string text = scratch.read(queue_path(feed));
        lines += check_queue_file(text, feed, mix.queued);
    }
    EXPECT_EQ(lines, expected);
    return lines;
}

// One round: the mixed runs, then the checks of every outcome and file.
void stress_round(unsigned seed, StressCounts& counts)
{
    ScratchDir scratch;
    set_up_round(scratch);
    std::mt19937 random(seed);
    std::vector<Removal> removals = plan_removals(random);
    Mix mix;
    run_mix(scratch.path(), removals, random, mix, counts);
    check_removals(scratch, removals, mix);
    check_listings(removals, mix, counts);
    counts.queued_lines += check_queues(scratch, mix);
    counts.removals += removal_count;
    counts.listings += static_cast<int>(mix.listings.size());
    counts.queuers += static_cast<int>(mix.queued.size());
}

// No removal is lost, every listing is that of one whole version of
// active, and every article is queued once, as a whole line, in the order
// of its run's arguments.
TEST(Concurrency, MixedRunsLoseNothingAndSeeWholeFiles)
{
    const int rounds = stress_rounds();
    StressCounts counts;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_NO_FATAL_FAILURE(stress_round(20261210u + static_cast<unsigned>(round), counts));
        ASSERT_FALSE(testing::Test::HasFailure());
    }
    printf("%d rounds: %d removals, %d listings (%d of a version part-way through the removals), "
           "%d feedqueue runs queueing %zu lines, up to %zu runs at once\n",
           rounds, counts.removals, counts.listings, counts.listings_mid_way, counts.queuers,
           counts.queued_lines, counts.most_at_once);
}

// A consumer's drain of a queue: take its lock, rename it away, let go of
// the lock, then read the renamed file and remove it. Returns what it held.
std::string drain_queue(const std::string& path)
{
    int fd = lock_queue(path);
    if (fd < 0)
        return "";
    const std::string work = path + ".work";
    EXPECT_EQ(rename(path.c_str(), work.c_str()), 0);
    close(fd);
    std::string text = read_file(work);
    unlink(work.c_str());
    return text;
}

// feedqueue runs append to a queue while a consumer drains it over and
// over: every article reaches the consumer once, in its run's order. A
// run that waited for the lock while the queue was taken away must write
// to the new queue, not into the file the consumer has already read.
TEST(Concurrency, DrainedQueueLosesNoLine)
{
    const int rounds = stress_rounds();
    size_t lines = 0;
    std::atomic<int> drains{0};
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ScratchDir scratch;
        set_up_round(scratch);
        const std::string queue = scratch.at(queue_path(queue_feeds[0]));
        std::mt19937 random(20261211u + static_cast<unsigned>(round));
        std::vector<std::vector<std::string>> runs;
        std::atomic<bool> done{false};
        std::string drained;
        const int drains_before = drains;
        std::thread consumer([&] {
            while (!done) {
                drained += drain_queue(queue);
                ++drains;
                std::this_thread::yield();
            }
        });
        // Waves of runs until the consumer has taken the queue away a few
        // times while runs append to it: the lock is not fair, and a
        // single wave may end before the consumer ever gets it.
        for (int wave = 0; wave < 100 && drains - drains_before < 10; ++wave) {
            std::vector<RunningProgram> running;
            for (size_t i = 0; i < 2 * queuers_in_flight; ++i) {
                runs.push_back(queue_arguments(static_cast<int>(runs.size()), random));
                running.push_back(start_program("feedqueue", runs.back(), {.cwd = scratch.path()}));
            }
            for (RunningProgram& program : running)
                EXPECT_EQ(finish_program(program).exit_status, 0);
        }
        done = true;
        consumer.join();
        EXPECT_GE(drains - drains_before, 10);
        drained += drain_queue(queue);
        lines += check_queue_file(drained, queue_feeds[0], runs);
        ASSERT_FALSE(testing::Test::HasFailure());
    }
    printf("%d rounds: %zu lines queued across %d drains\n", rounds, lines, drains.load());
}

}  // namespace
