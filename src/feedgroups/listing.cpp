#include "listing.h"

#include "active.h"
#include "line_reader.h"
#include "match.h"
#include "paths.h"
#include "startup.h"

#include <cstdio>

// Writes the line as it was read: the name, the blank that the split took
// out, and the rest with its line feed. False when a write fails.
static bool write_line(const ActiveLine& line)
{
    return fputs(line.name, stdout) != EOF && putc(' ', stdout) != EOF &&
           fputs(line.rest, stdout) != EOF;
}

// Writes the line once for every pattern that matches its name.
static bool write_selected(const ActiveLine& line, const FeedPattern* patterns)
{
    for (const FeedPattern* p = patterns; p != nullptr; p = p->next) {
        if (match_group_name(p->pattern, line.name) && !write_line(line))
            return false;
    }
    return true;
}

bool list_feed_groups(FILE* active, const FeedPattern* patterns)
{
    LineReader reader{active, {}};
    for (ReadOutcome outcome; (outcome = read_line(reader)) != ReadOutcome::end_of_input;) {
        if (outcome == ReadOutcome::long_line) {
            // Unlike every other report, this one has no line feed.
            fprintf(stderr, "%s: long line", path_active);
            return false;
        }
        std::optional<ActiveLine> line = split_active_line(reader.buffer);
        if (!line) {
            fprintf(stderr, "%s: malformed line\n", path_active);
            return false;
        }
        if (!write_selected(*line, patterns)) {
            perror(program_name());
            return false;
        }
    }
    if (read_failed(reader)) {
        perror(path_active);
        return false;
    }
    return true;
}
