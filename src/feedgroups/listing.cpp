#include "listing.h"

#include "active.h"
#include "errors.h"
#include "line_reader.h"
#include "match.h"
#include "paths.h"
#include "startup.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

// Writes the line once for every pattern that matches its name, trying
// those that the index gives for its first byte, in the patterns' order.
static bool write_selected(OutputBuffer& out, const LineReader& reader, const ActiveLine& line,
                           const PatternIndex& index)
{
    const uint64_t* words = candidates_for(index, static_cast<unsigned char>(line.name[0]));
    for (size_t w = 0; w < index.words; ++w) {
        for (uint64_t bits = words[w]; bits != 0; bits &= bits - 1) {
            const char* pattern = index.patterns[w * 64 + static_cast<size_t>(std::countr_zero(bits))];
            if (match_group_name(pattern, line.name) &&
                !put_line_as_read(out, reader.line, reader.length, line.rest - 1, ' '))
                return false;
        }
    }
    return true;
}

bool list_feed_groups(int active, const PatternIndex& patterns, OutputBuffer& out)
{
    LineReader reader;
    start_line_reader(reader, active);
    for (ReadOutcome outcome; (outcome = read_line(reader)) != ReadOutcome::end_of_input;) {
        if (outcome == ReadOutcome::long_line) {
            // Unlike every other report, this one has no line feed.
            fprintf(stderr, "%s: long line", path_active);
            return false;
        }
        std::optional<ActiveLine> line = split_active_line(reader.line);
        if (!line) {
            fprintf(stderr, "%s: malformed line\n", path_active);
            return false;
        }
        if (!write_selected(out, reader, *line, patterns)) {
            report_error(program_name(), out.error);
            return false;
        }
    }
    if (read_failed(reader)) {
        report_error(path_active, reader.error);
        return false;
    }
    return true;
}
