#include "feed_rules.h"
#include "listing.h"
#include "paths.h"
#include "startup.h"

#include <cstdio>
#include <optional>

// Pushes the listing out of the standard output buffer; reports and
// returns false when that or any earlier write to it failed.
static bool finish_output()
{
    if (fflush(stdout) == 0 && ferror(stdout) == 0)
        return true;
    perror(program_name());
    return false;
}

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
    // Static: the patterns live, reachable, until the process ends.
    static std::optional<FeedPattern*> patterns = load_feed_patterns(argv[1]);
    if (!patterns || *patterns == nullptr)
        return 1;
    FILE* active = fopen(path_active, "r");
    if (active == nullptr) {
        perror(path_active);
        return 1;
    }
    bool listed = list_feed_groups(active, *patterns);
    fclose(active);
    // After a failure in the loop its report stands alone, and the status
    // is 1 whatever becomes of the output.
    if (!listed)
        return 1;
    return finish_output() ? 0 : 1;
}
