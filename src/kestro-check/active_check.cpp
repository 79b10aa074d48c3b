#include "active_check.h"

#include "active.h"
#include "findings.h"
#include "line_reader.h"
#include "paths.h"
#include "routing.h"
#include "source_file.h"

#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>

// Reports a line that has no group name before a blank: both readers of
// active refuse it.
static void report_unsplit(unsigned line, const char* text)
{
    const char* what = "no blank after the group name";
    if (text[0] == '\n')
        what = "empty line";
    else if (text[0] == ' ')
        what = "the line begins with a blank";
    report(Severity::error, path_active, line, "%s", what);
}

// Reads the line strictly, as dropgroup does, and reports what dropgroup
// refuses: a line not in its form, or one that comes out too long.
static void check_strictly(unsigned line, char* text)
{
    std::optional<ActiveEntry> entry = parse_active_entry(text);
    if (!entry) {
        report(Severity::error, path_active, line,
               "not of the form \"name number number flag\" that dropgroup reads");
        return;
    }
    size_t written = active_entry_length(*entry) - 1;
    if (written > longest_line)
        report(Severity::error, path_active, line,
               "dropgroup would write the line back with %zu bytes, more than %zu", written,
               longest_line);
}

ActiveTotals check_active(RuleList& rules)
{
    ActiveTotals totals{false, 0, 0};
    SourceFile file;
    if (!open_source(file, path_active))
        return totals;
    std::unordered_map<std::string, unsigned> first_lines;
    for (char* text; (text = next_line(file)) != nullptr;) {
        std::optional<ActiveLine> split = split_active_line(text);
        if (!split) {
            report_unsplit(file.line_number, text);
            continue;
        }
        auto [first, added] = first_lines.try_emplace(split->name, file.line_number);
        if (!added) {
            report(Severity::warning, path_active, file.line_number,
                   "group %s already stands on line %u", shown(split->name).c_str(),
                   first->second);
        } else {
            ++totals.groups;
            if (!route_group(rules, split->name))
                ++totals.unrouted;
        }
        // The split cut the line at its first blank; the strict reader
        // wants the whole line.
        text[strlen(text)] = ' ';
        check_strictly(file.line_number, text);
    }
    totals.whole = close_source(file);
    return totals;
}
