#include "active_check.h"
#include "feed_dirs.h"
#include "findings.h"
#include "locks.h"
#include "newsfeeds_check.h"
#include "newsgroups_check.h"
#include "routing.h"
#include "startup.h"

#include <cstdio>
#include <unistd.h>

enum class Status { clean = 0, findings = 1, not_checked = 2 };

// Pushes the findings out of the standard output buffer; reports and
// returns false when that or any earlier write to it failed.
static bool finish_output()
{
    if (fflush(stdout) == 0 && ferror(stdout) == 0)
        return true;
    perror(program_name());
    return false;
}

// Takes the options; false after a usage message.
static bool read_options(int argc, char* argv[], bool& summary)
{
    summary = false;
    for (int option; (option = getopt(argc, argv, "r")) != -1;) {
        if (option != 'r') {
            fprintf(stderr, "Usage: %s [-r]\n", program_name());
            return false;
        }
        summary = true;
    }
    if (optind != argc) {
        fprintf(stderr, "Usage: %s [-r]\n", program_name());
        return false;
    }
    return true;
}

// kestro-check: finds what the other programs would refuse or silently get
// wrong in the configuration directory: lines of newsfeeds, active and
// newsgroups that their readers refuse, mistakes in rules that the loaders
// accept, rules that no group reaches, missing feed directories, unfinished
// queue lines and lock files that make dropgroup wait. It reads each file
// once with the programs' own reader, parsers and matcher, and changes,
// locks and waits for nothing. Each finding is one line on standard output;
// the status is 0 with no output when there is none, 1 when there is one,
// 2 when the check could not be made. With -r it adds how many groups of
// active each rule receives.
int main(int argc, char* argv[])
{
    if (!common_startup(argv)) {
        perror(program_name());
        return static_cast<int>(Status::not_checked);
    }
    bool summary;
    if (!read_options(argc, argv, summary))
        return static_cast<int>(Status::not_checked);
    bool newsfeeds_whole;
    RuleList rules = check_newsfeeds(newsfeeds_whole);
    if (!check_feed_directories(rules))
        return static_cast<int>(Status::not_checked);
    ActiveTotals active = check_active(rules);
    if (active.whole)
        report_routing(rules);
    check_newsgroups();
    check_locks();
    if (summary && active.whole)
        report_routing_summary(rules, active.groups, active.unrouted);
    if (!finish_output())
        return static_cast<int>(Status::not_checked);
    return static_cast<int>(findings_reported() == 0 ? Status::clean : Status::findings);
}
