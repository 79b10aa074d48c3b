// The newsfeeds file: rule lines "feed<TAB>pattern", "#" starts a comment,
// lines empty once the comment is cut are skipped.
#pragma once

#include <optional>

// One rule line, in a list in file order. Records and strings are never freed.
struct FeedRule {
    FeedRule* next;
    char* feed_name;
    char* pattern;
};

// One pattern of the requested feed, in a list in file order.
struct FeedPattern {
    FeedPattern* next;
    char* pattern;
};

// Loads every rule of newsfeeds. nullopt: the failure has been reported on
// standard error. A list of no rule is nullptr.
std::optional<FeedRule*> load_feed_rules();

// Loads the patterns of the rules whose feed name is wanted_feed, byte for
// byte. Every line of the file is checked, whichever feed it names.
// nullopt: the failure has been reported. A list of no pattern is nullptr.
std::optional<FeedPattern*> load_feed_patterns(const char* wanted_feed);

// Frees a list of rules. The programs keep theirs until they end; the
// loaders free the part of a list built before a failure.
void free_feed_rules(FeedRule* rule);

// Frees a list of patterns, likewise.
void free_feed_patterns(FeedPattern* record);
