#include "routing.h"

#include "findings.h"
#include "line_reader.h"
#include "match.h"
#include "paths.h"

#include <cstring>

// Room for the directory of a group read from a line, its slash and a NUL.
constexpr size_t article_path_size = longest_line + 2;

// Writes into path the directory of the group's articles, the name with a
// slash for every dot, then a slash where the article's file name would
// begin. Returns that last slash, the end of the group part.
static const char* article_directory(const char* name, char (&path)[article_path_size])
{
    size_t length = strnlen(name, article_path_size - 2);
    for (size_t i = 0; i < length; ++i)
        path[i] = name[i] == '.' ? '/' : name[i];
    path[length] = '/';
    path[length + 1] = '\0';
    return path + length;
}

// Notes that the rule at taker took, first, a group that rule matches too.
static void note_taker(const RuleList& rules, CheckedRule& rule, size_t taker)
{
    if (rule.first_taker == no_rule)
        rule.first_taker = taker;
    else if (rule.first_taker != taker)
        rule.several_takers = true;
    if (rule.other_feed_taker == no_rule && rules[taker].feed_name != rule.feed_name)
        rule.other_feed_taker = taker;
}

// True when nothing more is to be learnt about the earlier rules that took
// this rule's groups.
static bool takers_known(const CheckedRule& rule)
{
    return rule.several_takers && rule.other_feed_taker != no_rule;
}

bool route_group(RuleList& rules, const char* name)
{
    char path[article_path_size];
    const char* last_slash = article_directory(name, path);
    size_t taker = no_rule;
    for (size_t i = 0; i < rules.size(); ++i) {
        CheckedRule& rule = rules[i];
        if (!rule.lists_groups && match_group_name(rule.pattern.c_str(), name))
            rule.lists_groups = true;
        // After the first match only rules that have received nothing are
        // tried, and only while it can change which earlier rules they
        // name as taking their groups.
        if (taker != no_rule && (rule.groups_received != 0 || takers_known(rule)))
            continue;
        if (!match_group_path(rule.pattern.c_str(), path, last_slash))
            continue;
        rule.matches_paths = true;
        if (taker == no_rule) {
            taker = i;
            ++rule.groups_received;
        } else {
            note_taker(rules, rule, taker);
        }
    }
    return taker != no_rule;
}

// Reports a rule whose groups all go to earlier rules, naming one of them,
// of another feed where there is one.
static void report_shadowed(const RuleList& rules, const CheckedRule& rule)
{
    if (rule.other_feed_taker == no_rule) {
        const CheckedRule& taker = rules[rule.first_taker];
        if (rule.several_takers)
            report(Severity::warning, path_newsfeeds, rule.line,
                   "rule adds nothing: earlier rules of the same feed take each group it "
                   "matches first, such as line %u",
                   taker.line);
        else
            report(Severity::warning, path_newsfeeds, rule.line,
                   "rule adds nothing: the rule of line %u, of the same feed, takes each "
                   "group it matches first",
                   taker.line);
        return;
    }
    const CheckedRule& taker = rules[rule.other_feed_taker];
    if (rule.several_takers)
        report(Severity::warning, path_newsfeeds, rule.line,
               "rule receives no article: earlier rules take each group it matches first, "
               "such as line %u (feed %s)",
               taker.line, shown(taker.feed_name.c_str()).c_str());
    else
        report(Severity::warning, path_newsfeeds, rule.line,
               "rule receives no article: the rule of line %u (feed %s) takes each group it "
               "matches first",
               taker.line, shown(taker.feed_name.c_str()).c_str());
}

void report_routing(const RuleList& rules)
{
    for (const CheckedRule& rule : rules) {
        if (rule.pattern_reported || rule.groups_received != 0)
            continue;
        if (rule.matches_paths)
            report_shadowed(rules, rule);
        else if (rule.lists_groups)
            report(Severity::warning, path_newsfeeds, rule.line,
                   "pattern matches group names but none of their article paths, where dots "
                   "are slashes: feedqueue gives it no article");
        else
            report(Severity::warning, path_newsfeeds, rule.line,
                   "pattern matches no group of active");
    }
}

void report_routing_summary(const RuleList& rules, size_t groups, size_t unrouted)
{
    for (const CheckedRule& rule : rules)
        report(Severity::note, path_newsfeeds, rule.line, "feed %s, pattern \"%s\": %zu group%s",
               shown(rule.feed_name.c_str()).c_str(), shown(rule.pattern.c_str()).c_str(),
               rule.groups_received,
               rule.groups_received == 1 ? "" : "s");
    report(Severity::note, path_active, 0, "%zu of %zu groups go to no feed", unrouted, groups);
}
