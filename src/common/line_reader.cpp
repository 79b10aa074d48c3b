#include "line_reader.h"

#include <cstring>

ReadOutcome read_line(LineReader& reader)
{
    if (fgets(reader.buffer, sizeof reader.buffer, reader.stream) == nullptr)
        return ReadOutcome::end_of_input;
    // strchr stops at the first NUL, so a NUL before the line feed makes
    // the line feed invisible: such a line counts as a long line.
    if (strchr(reader.buffer, '\n') == nullptr)
        return ReadOutcome::long_line;
    return ReadOutcome::line;
}

bool read_failed(const LineReader& reader)
{
    return ferror(reader.stream) != 0;
}
