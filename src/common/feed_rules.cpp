#include "feed_rules.h"

#include "errors.h"
#include "line_reader.h"
#include "paths.h"
#include "startup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

RuleLine parse_rule_line(char* line)
{
    // The line feed is the last byte, so this cuts the comment if there is
    // one and the line feed otherwise.
    line[strcspn(line, "#\n")] = '\0';
    if (line[0] == '\0')
        return {RuleLineKind::skipped, nullptr, nullptr};
    char* tab = strchr(line, '\t');
    if (tab == nullptr)
        return {RuleLineKind::malformed, nullptr, nullptr};
    *tab = '\0';
    return {RuleLineKind::rule, line, tab + 1};
}

enum class RuleRead { rule, end_of_file, read_error, long_line, malformed, no_memory };

// Reads up to the next rule line and splits it in the buffer into feed name
// and pattern. Says how the reading stopped; the caller reports.
static RuleRead next_rule(LineReader& reader, char*& feed_name, char*& pattern)
{
    for (;;) {
        switch (read_line(reader)) {
        case ReadOutcome::end_of_input:
            return read_failed(reader) ? RuleRead::read_error : RuleRead::end_of_file;
        case ReadOutcome::long_line:
            return RuleRead::long_line;
        case ReadOutcome::line:
            break;
        }
        RuleLine parsed = parse_rule_line(reader.line);
        if (parsed.kind == RuleLineKind::skipped)
            continue;
        if (parsed.kind == RuleLineKind::malformed)
            return RuleRead::malformed;
        feed_name = parsed.feed_name;
        pattern = parsed.pattern;
        return RuleRead::rule;
    }
}

// Reports why the loading failed: a read error, a bad line, or no memory
// (errno set) for a record.
static void report_failure(const LineReader& reader, RuleRead outcome)
{
    if (outcome == RuleRead::read_error)
        report_error(path_newsfeeds, reader.error);
    else if (outcome == RuleRead::long_line)
        fprintf(stderr, "%s: long line\n", path_newsfeeds);
    else if (outcome == RuleRead::malformed)
        fprintf(stderr, "%s: malformed line\n", path_newsfeeds);
    else
        perror(program_name());
}

// Frees what a record got before one of its copies failed, keeping the
// error of that copy for the report.
static void free_unfinished(void* record, char* first_copy, char* second_copy)
{
    ErrnoGuard keep;
    free(first_copy);
    free(second_copy);
    free(record);
}

// Makes a rule record holding copies of the two strings, or nullptr with
// errno set.
static FeedRule* new_record(FeedRule* /*kind*/, const char* feed_name, const char* pattern)
{
    auto rule = static_cast<FeedRule*>(malloc(sizeof(FeedRule)));
    if (rule == nullptr)
        return nullptr;
    rule->next = nullptr;
    rule->feed_name = strdup(feed_name);
    rule->pattern = strdup(pattern);
    if (rule->feed_name == nullptr || rule->pattern == nullptr) {
        free_unfinished(rule, rule->feed_name, rule->pattern);
        return nullptr;
    }
    return rule;
}

// Makes a pattern record holding a copy of the pattern, or nullptr with
// errno set.
static FeedPattern* new_record(FeedPattern* /*kind*/, const char* /*feed_name*/, const char* pattern)
{
    auto record = static_cast<FeedPattern*>(malloc(sizeof(FeedPattern)));
    if (record == nullptr)
        return nullptr;
    record->next = nullptr;
    record->pattern = strdup(pattern);
    if (record->pattern == nullptr) {
        free_unfinished(record, nullptr, nullptr);
        return nullptr;
    }
    return record;
}

void free_feed_rules(FeedRule* rule)
{
    while (rule != nullptr) {
        FeedRule* next = rule->next;
        free(rule->feed_name);
        free(rule->pattern);
        free(rule);
        rule = next;
    }
}

void free_feed_patterns(FeedPattern* record)
{
    while (record != nullptr) {
        FeedPattern* next = record->next;
        free(record->pattern);
        free(record);
        record = next;
    }
}

// Frees a list of either kind.
static void free_list(FeedRule* list)
{
    free_feed_rules(list);
}

// Frees a list of either kind.
static void free_list(FeedPattern* list)
{
    free_feed_patterns(list);
}

// Reads the rest of newsfeeds into a list of records in file order: one
// for every rule, or, when wanted_feed is given, for every rule of that
// feed. Every line is held to the same rules whichever feed it names.
// Reports a failure and frees the list built so far.
template <typename Record>
static std::optional<Record*> read_list(LineReader& reader, const char* wanted_feed)
{
    Record* head = nullptr;
    Record** tail = &head;
    char* feed_name;
    char* pattern;
    RuleRead outcome;
    while ((outcome = next_rule(reader, feed_name, pattern)) == RuleRead::rule) {
        if (wanted_feed != nullptr && strcmp(feed_name, wanted_feed) != 0)
            continue;
        *tail = new_record(static_cast<Record*>(nullptr), feed_name, pattern);
        if (*tail == nullptr) {
            outcome = RuleRead::no_memory;
            break;
        }
        tail = &(*tail)->next;
    }
    if (outcome == RuleRead::end_of_file)
        return head;
    report_failure(reader, outcome);
    free_list(head);
    return std::nullopt;
}

// Opens newsfeeds and reads it into a list, as read_list does; reports a
// failure to open it.
template <typename Record>
static std::optional<Record*> load_list(const char* wanted_feed)
{
    int fd = open(path_newsfeeds, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        perror(path_newsfeeds);
        return std::nullopt;
    }
    LineReader reader;
    start_line_reader(reader, fd);
    std::optional<Record*> list = read_list<Record>(reader, wanted_feed);
    close(fd);
    return list;
}

std::optional<FeedRule*> read_feed_rules(LineReader& reader)
{
    return read_list<FeedRule>(reader, nullptr);
}

std::optional<FeedPattern*> read_feed_patterns(LineReader& reader, const char* wanted_feed)
{
    return read_list<FeedPattern>(reader, wanted_feed);
}

std::optional<FeedRule*> load_feed_rules()
{
    return load_list<FeedRule>(nullptr);
}

std::optional<FeedPattern*> load_feed_patterns(const char* wanted_feed)
{
    return load_list<FeedPattern>(wanted_feed);
}
