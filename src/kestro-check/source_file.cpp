#include "source_file.h"

#include "findings.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

bool open_source(SourceFile& file, const char* path)
{
    file.path = path;
    file.line_number = 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    file.whole = fd >= 0;
    if (!file.whole) {
        report(Severity::error, path, 0, "cannot be opened: %s", strerror(errno));
        return false;
    }
    start_line_reader(file.reader, fd);
    return true;
}

// Says which of the three kinds of long line the last line is.
static void report_long_line(const SourceFile& file)
{
    switch (file.reader.why_long) {
    case LongLine::too_long:
        report(Severity::error, file.path, file.line_number,
               "long line: more than %zu bytes before its line feed", longest_line);
        break;
    case LongLine::no_line_feed:
        report(Severity::error, file.path, file.line_number,
               "long line: the last line has no line feed");
        break;
    case LongLine::nul_byte:
        report(Severity::error, file.path, file.line_number, "long line: it holds a NUL byte");
        break;
    }
}

char* next_line(SourceFile& file)
{
    if (!file.whole)
        return nullptr;
    ReadOutcome outcome = read_line(file.reader);
    if (outcome == ReadOutcome::end_of_input) {
        if (read_failed(file.reader)) {
            report(Severity::error, file.path, 0, "read error: %s", strerror(file.reader.error));
            file.whole = false;
        }
        return nullptr;
    }
    ++file.line_number;
    if (outcome == ReadOutcome::long_line) {
        report_long_line(file);
        file.whole = false;
        return nullptr;
    }
    return file.reader.line;
}

bool close_source(SourceFile& file)
{
    close(file.reader.fd);
    return file.whole;
}
