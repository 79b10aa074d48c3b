#include "feed_rules.h"
#include "match.h"
#include "paths.h"
#include "queue_file.h"
#include "startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

// The first rule whose pattern matches the group part of the article path
// (the bytes before its last "/"), or nullptr when none does.
static const FeedRule* first_matching_rule(const FeedRule* rules, const char* article)
{
    const char* last_slash = strrchr(article, '/');
    for (const FeedRule* rule = rules; rule != nullptr; rule = rule->next) {
        if (match_group_path(rule->pattern, article, last_slash))
            return rule;
    }
    return nullptr;
}

// Appends the article as a line to the queue file of the feed; reports
// failures.
static bool queue_for_feed(const char* feed_name, const char* article)
{
    char* path = make_queue_path(feed_name);
    if (path == nullptr) {
        perror(program_name());
        return false;
    }
    bool queued = append_queue_line(path, article);
    free(path);
    return queued;
}

// Queues one article for the feed of the first rule that matches it; an
// article that no rule matches is passed over. False after a reported
// failure.
static bool queue_article(const FeedRule* rules, const char* article)
{
    // A line feed would split the line in two and let the argument choose
    // what the second line says.
    if (strchr(article, '\n') != nullptr) {
        fprintf(stderr, "%s: article path holds a line feed\n", program_name());
        return false;
    }
    const FeedRule* rule = first_matching_rule(rules, article);
    if (rule == nullptr)
        return true;
    return queue_for_feed(rule->feed_name, article);
}

// feedqueue: queues articles for feeds. Each argument is an article path,
// the group's directory and the article's file name (comp/lang/c/123); it
// is appended as one line to the queue file of the feed whose newsfeeds
// rule is the first to match the group part. Every line is appended under
// an exclusive flock on its queue file, taken anew for each article. The
// run stops at the first failure; lines queued before it stay. A newsfeeds
// without rules is a failure with no message, whatever the arguments.
int main(int argc, char* argv[])
{
    common_startup(argv);
    std::optional<FeedRule*> rules = load_feed_rules();
    if (!rules || *rules == nullptr)
        return 1;
    for (int i = 1; i < argc; ++i) {
        if (!queue_article(*rules, argv[i]))
            return 1;
    }
    return 0;
}
