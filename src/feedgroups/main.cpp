#include "feed_rules.h"
#include "listing.h"
#include "output_buffer.h"
#include "paths.h"
#include "startup.h"

#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

// Standard output, gathered into large writes.
static OutputBuffer standard_output;

// The feed's patterns and their index, kept reachable until the process
// ends.
static std::optional<FeedPattern*> patterns;
static PatternIndex pattern_index;

// feedgroups: lists the groups that one feed carries. Every line of active
// whose group name one of the feed's patterns in newsfeeds matches is
// written to standard output unchanged, once for each pattern that matches
// it, in the order of active. A feed without any rule ends silently with
// status 1. active is read without a lock: its writers replace it whole by
// a rename, so the listing always comes from one complete version.
int main(int argc, char* argv[])
{
    if (!common_startup(argv)) {
        perror(program_name());
        return 1;
    }
    if (argc != 2) {
        fprintf(stderr, "Usage: %s newsfeed\n", program_name());
        return 1;
    }
    patterns = load_feed_patterns(argv[1]);
    if (!patterns || *patterns == nullptr)
        return 1;
    if (!build_pattern_index(*patterns, pattern_index)) {
        perror(program_name());
        return 1;
    }
    int active = open(path_active, O_RDONLY | O_CLOEXEC);
    if (active < 0) {
        perror(path_active);
        return 1;
    }
    start_output(standard_output, STDOUT_FILENO);
    bool listed = list_feed_groups(active, pattern_index, standard_output);
    close(active);
    bool written = flush_output(standard_output);
    // After a failure in the loop the lines selected before it are written
    // all the same, its report stands alone, and the status is 1.
    if (!listed)
        return 1;
    if (!written)
        perror(program_name());
    return written ? 0 : 1;
}
