#include "newsfeeds_check.h"

#include "feed_rules.h"
#include "findings.h"
#include "paths.h"
#include "source_file.h"

#include <cstring>

// The last byte of a string, or NUL for the empty string.
static char last_byte(const std::string& text)
{
    return text.empty() ? '\0' : text.back();
}

// Reports a line that is not empty once its comment is cut, but holds no
// tab. What is left of it tells the likeliest mistake.
static void report_malformed(unsigned line, const char* rest)
{
    if (rest[strspn(rest, " \r")] == '\0')
        report(Severity::error, path_newsfeeds, line,
               "no tab, and only blanks or carriage returns: such a line is not empty");
    else
        report(Severity::error, path_newsfeeds, line, "no tab between feed name and pattern");
}

// Reports what is wrong with a rule's feed name.
static void check_feed_name(const CheckedRule& rule)
{
    char last = last_byte(rule.feed_name);
    if (rule.feed_name.empty())
        report(Severity::warning, path_newsfeeds, rule.line,
               "empty feed name: the queue is the file outgoing in suck/ itself");
    else if (last == ' ' || last == '\r')
        report(Severity::warning, path_newsfeeds, rule.line,
               "feed name \"%s\" ends in a %s, which is part of the name",
               shown(rule.feed_name.c_str()).c_str(), last == ' ' ? "blank" : "carriage return");
}

// Reports what is wrong with a rule's pattern; true when it did.
static bool check_pattern(const CheckedRule& rule)
{
    char last = last_byte(rule.pattern);
    std::string pattern = shown(rule.pattern.c_str());
    if (rule.pattern.empty())
        report(Severity::warning, path_newsfeeds, rule.line, "empty pattern: it matches no group");
    else if (last == ' ' || last == '\t')
        report(Severity::warning, path_newsfeeds, rule.line,
               "pattern \"%s\" ends in a blank or tab, which is part of the pattern "
               "(up to a \"#\", all of the line is)",
               pattern.c_str());
    else if (last == '\r')
        report(Severity::warning, path_newsfeeds, rule.line,
               "pattern \"%s\" ends in a carriage return, which is part of the pattern "
               "(a line end written on another system?)",
               pattern.c_str());
    else
        return false;
    return true;
}

// Keeps a rule line, after the checks of its two fields.
static void add_rule(RuleList& rules, unsigned line, const RuleLine& parsed)
{
    CheckedRule rule{line,  parsed.feed_name, parsed.pattern, false, false, false, 0,
                     no_rule, no_rule,        false};
    check_feed_name(rule);
    rule.pattern_reported = check_pattern(rule);
    rules.push_back(rule);
}

RuleList check_newsfeeds(bool& whole)
{
    RuleList rules;
    SourceFile file;
    whole = false;
    if (!open_source(file, path_newsfeeds))
        return rules;
    for (char* text; (text = next_line(file)) != nullptr;) {
        RuleLine parsed = parse_rule_line(text);
        if (parsed.kind == RuleLineKind::malformed)
            report_malformed(file.line_number, text);
        else if (parsed.kind == RuleLineKind::rule)
            add_rule(rules, file.line_number, parsed);
    }
    whole = close_source(file);
    if (whole && rules.empty())
        report(Severity::error, path_newsfeeds, 0,
               "no rule: feedqueue and feedgroups fail without a message");
    return rules;
}
