// The newsfeeds file: rule lines "feed<TAB>pattern", "#" starts a comment,
// lines empty once the comment is cut are skipped.
#pragma once

#include "line_reader.h"

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

// What one line of newsfeeds is once its line feed and comment are cut.
enum class RuleLineKind { rule, skipped, malformed };

// A line of newsfeeds split in place. For a rule, feed_name and pattern lie
// in the line; otherwise both are nullptr.
struct RuleLine {
    RuleLineKind kind;
    char* feed_name;
    char* pattern;
};

// Applies the loaders' line rules to a line as read_line yields it (ending
// in its line feed), cutting it in place: the line feed and a comment from
// the first "#" go; nothing left is a skipped line; no tab is malformed;
// else the first tab splits feed name from pattern, both kept whole.
RuleLine parse_rule_line(char* line);

// Loads every rule of newsfeeds. nullopt: the failure has been reported on
// standard error. A list of no rule is nullptr.
std::optional<FeedRule*> load_feed_rules();

// Loads the patterns of the rules whose feed name is wanted_feed, byte for
// byte. Every line of the file is checked, whichever feed it names.
// nullopt: the failure has been reported. A list of no pattern is nullptr.
std::optional<FeedPattern*> load_feed_patterns(const char* wanted_feed);

// The loaders' work on a reader that is open already, for the loaders
// themselves and for the tests and fuzzing, which read from memory. They
// read to the end and report as the loaders do; the caller closes.
std::optional<FeedRule*> read_feed_rules(LineReader& reader);
std::optional<FeedPattern*> read_feed_patterns(LineReader& reader, const char* wanted_feed);

// Frees a list of rules. The programs keep theirs until they end; the
// loaders free the part of a list built before a failure.
void free_feed_rules(FeedRule* rule);

// Frees a list of patterns, likewise.
void free_feed_patterns(FeedPattern* record);
