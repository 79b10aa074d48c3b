#include "feed_rules.h"
#include "match.h"
#include "path_filter.h"
#include "queue_file.h"
#include "queue_path.h"
#include "startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

// The rules, kept reachable until the process ends.
static std::optional<FeedRule*> loaded_rules;

// Room for the queue path and the line of any article of this run, and the
// filters of the rules in their order, taken once, so that no article
// allocates.
struct Buffers {
    char* path;
    char* line;
    PathFilter* filters;
};

// The first rule whose pattern matches the group part of the article path
// (the bytes before its last "/"), or nullptr when none does.
static const FeedRule* first_matching_rule(const FeedRule* rules, const PathFilter* filters,
                                           const char* article)
{
    const char* last_slash = strrchr(article, '/');
    if (last_slash == nullptr)
        return nullptr;
    auto group_length = static_cast<size_t>(last_slash - article);
    for (const FeedRule* rule = rules; rule != nullptr; rule = rule->next, ++filters) {
        if (may_match_path(*filters, article, group_length) &&
            match_group_path(rule->pattern, article, last_slash))
            return rule;
    }
    return nullptr;
}

// Queues one article for the feed of the first rule that matches it; an
// article that no rule matches is passed over. False after a reported
// failure.
static bool queue_article(const FeedRule* rules, const char* article, const Buffers& buffers)
{
    // A line feed would split the line in two and let the argument choose
    // what the second line says.
    if (strchr(article, '\n') != nullptr) {
        fprintf(stderr, "%s: article path holds a line feed\n", program_name());
        return false;
    }
    const FeedRule* rule = first_matching_rule(rules, buffers.filters, article);
    if (rule == nullptr)
        return true;
    format_queue_path(buffers.path, rule->feed_name);
    size_t length = strlen(article);
    buffers.line[0] = '\n';
    memcpy(buffers.line + 1, article, length);
    buffers.line[length + 1] = '\n';
    return append_queue_line(buffers.path, {buffers.line, length + 2});
}

// The size of the longest queue path of the rules' feeds.
static size_t longest_queue_path(const FeedRule* rules)
{
    size_t longest = queue_path_size("");
    for (const FeedRule* rule = rules; rule != nullptr; rule = rule->next) {
        size_t size = queue_path_size(rule->feed_name);
        longest = size > longest ? size : longest;
    }
    return longest;
}

// The length of the longest article path.
static size_t longest_article(int count, char* const articles[])
{
    size_t longest = 0;
    for (int i = 0; i < count; ++i) {
        size_t length = strlen(articles[i]);
        longest = length > longest ? length : longest;
    }
    return longest;
}

// The filters of the rules, in their order; nullptr with errno set.
static PathFilter* make_filters(const FeedRule* rules)
{
    size_t count = 0;
    for (const FeedRule* rule = rules; rule != nullptr; rule = rule->next)
        ++count;
    auto filters = static_cast<PathFilter*>(malloc((count > 0 ? count : 1) * sizeof(PathFilter)));
    if (filters == nullptr)
        return nullptr;
    PathFilter* filter = filters;
    for (const FeedRule* rule = rules; rule != nullptr; rule = rule->next)
        *filter++ = path_filter_for(rule->pattern);
    return filters;
}

// Takes the buffers for the longest queue path and the longest article,
// and the filters of the rules. False with errno set.
static bool take_buffers(const FeedRule* rules, int count, char* const articles[], Buffers& buffers)
{
    buffers.path = static_cast<char*>(malloc(longest_queue_path(rules)));
    buffers.line = static_cast<char*>(malloc(longest_article(count, articles) + 2));
    buffers.filters = make_filters(rules);
    return buffers.path != nullptr && buffers.line != nullptr && buffers.filters != nullptr;
}

// Queues the articles in order, stopping at the first failure.
static bool queue_articles(const FeedRule* rules, int count, char* const articles[])
{
    Buffers buffers{};
    bool queued = take_buffers(rules, count, articles, buffers);
    if (!queued)
        perror(program_name());
    for (int i = 0; queued && i < count; ++i)
        queued = queue_article(rules, articles[i], buffers);
    free(buffers.path);
    free(buffers.line);
    free(buffers.filters);
    return queued;
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
    if (!common_startup(argv)) {
        perror(program_name());
        return 1;
    }
    loaded_rules = load_feed_rules();
    if (!loaded_rules || *loaded_rules == nullptr)
        return 1;
    if (argc < 2)
        return 0;
    return queue_articles(*loaded_rules, argc - 1, argv + 1) ? 0 : 1;
}
