#include "feed_rules.h"

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

enum class RuleRead { rule, end_of_file, failed };

// Reads up to the next rule line and splits it in the buffer into feed name
// and pattern. Reports a long or malformed line or a read error.
static RuleRead next_rule(LineReader& reader, char*& feed_name, char*& pattern)
{
    for (;;) {
        switch (read_line(reader)) {
        case ReadOutcome::end_of_input:
            if (!read_failed(reader))
                return RuleRead::end_of_file;
            perror(path_newsfeeds);
            return RuleRead::failed;
        case ReadOutcome::long_line:
            fprintf(stderr, "%s: long line\n", path_newsfeeds);
            return RuleRead::failed;
        case ReadOutcome::line:
            break;
        }
        RuleLine parsed = parse_rule_line(reader.line);
        if (parsed.kind == RuleLineKind::skipped)
            continue;
        if (parsed.kind == RuleLineKind::malformed) {
            fprintf(stderr, "%s: malformed line\n", path_newsfeeds);
            return RuleRead::failed;
        }
        feed_name = parsed.feed_name;
        pattern = parsed.pattern;
        return RuleRead::rule;
    }
}

// Opens newsfeeds for one of the loaders; reports a failure.
static bool open_newsfeeds(LineReader& reader)
{
    int fd = open(path_newsfeeds, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        perror(path_newsfeeds);
        return false;
    }
    start_line_reader(reader, fd);
    return true;
}

// Reports that memory ran out while the rules were loaded.
static void report_no_memory()
{
    perror(program_name());
}

// Frees what a record got before one of its copies failed, keeping the
// error of that copy for the report.
static void free_unfinished(void* record, char* first_copy, char* second_copy)
{
    int saved_errno = errno;
    free(first_copy);
    free(second_copy);
    free(record);
    errno = saved_errno;
}

// Makes a rule record holding copies of the two strings, or nullptr.
static FeedRule* new_feed_rule(const char* feed_name, const char* pattern)
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

// Makes a pattern record holding a copy of the pattern, or nullptr.
static FeedPattern* new_feed_pattern(const char* pattern)
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

std::optional<FeedRule*> read_feed_rules(LineReader& reader)
{
    FeedRule* head = nullptr;
    FeedRule** tail = &head;
    char* feed_name;
    char* pattern;
    RuleRead outcome;
    while ((outcome = next_rule(reader, feed_name, pattern)) == RuleRead::rule) {
        *tail = new_feed_rule(feed_name, pattern);
        if (*tail == nullptr) {
            report_no_memory();
            outcome = RuleRead::failed;
            break;
        }
        tail = &(*tail)->next;
    }
    if (outcome == RuleRead::failed) {
        free_feed_rules(head);
        return std::nullopt;
    }
    return head;
}

std::optional<FeedPattern*> read_feed_patterns(LineReader& reader, const char* wanted_feed)
{
    FeedPattern* head = nullptr;
    FeedPattern** tail = &head;
    char* feed_name;
    char* pattern;
    RuleRead outcome;
    while ((outcome = next_rule(reader, feed_name, pattern)) == RuleRead::rule) {
        if (strcmp(feed_name, wanted_feed) != 0)
            continue;
        *tail = new_feed_pattern(pattern);
        if (*tail == nullptr) {
            report_no_memory();
            outcome = RuleRead::failed;
            break;
        }
        tail = &(*tail)->next;
    }
    if (outcome == RuleRead::failed) {
        free_feed_patterns(head);
        return std::nullopt;
    }
    return head;
}

std::optional<FeedRule*> load_feed_rules()
{
    LineReader reader;
    if (!open_newsfeeds(reader))
        return std::nullopt;
    std::optional<FeedRule*> rules = read_feed_rules(reader);
    close(reader.fd);
    return rules;
}

std::optional<FeedPattern*> load_feed_patterns(const char* wanted_feed)
{
    LineReader reader;
    if (!open_newsfeeds(reader))
        return std::nullopt;
    std::optional<FeedPattern*> patterns = read_feed_patterns(reader, wanted_feed);
    close(reader.fd);
    return patterns;
}
