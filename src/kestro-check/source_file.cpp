#include "source_file.h"

#include "findings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

// The text of the line last read. The one place that knows where the
// reader keeps it.
static char* line_text(LineReader* reader)
{
    return reader->buffer;
}

bool open_source(SourceFile& file, const char* path)
{
    file.path = path;
    file.line_number = 0;
    file.stream = fopen(path, "r");
    file.whole = file.stream != nullptr;
    if (!file.whole) {
        report(Severity::error, path, 0, "cannot be opened: %s", strerror(errno));
        return false;
    }
    file.reader = LineReader{file.stream, {}};
    return true;
}

// True when the file's last byte is a line feed. Read with pread on the
// descriptor, which leaves the stream where it is.
static bool ends_in_line_feed(FILE* stream)
{
    struct stat st;
    char last = '\0';
    int fd = fileno(stream);
    return fstat(fd, &st) == 0 && st.st_size > 0 &&
           pread(fd, &last, 1, st.st_size - 1) == 1 && last == '\n';
}

// Says which of the three kinds of long line the last line is. A full
// buffer without a line feed is a line too long. Otherwise a NUL byte hid
// the line feed, or the line is the last one and has none: that is when
// nothing follows it and the file does not end in a line feed.
static void report_long_line(SourceFile& file)
{
    const size_t longest = line_buffer_size - 2;
    if (strlen(line_text(&file.reader)) > longest)
        report(Severity::error, file.path, file.line_number,
               "long line: more than %zu bytes before its line feed", longest);
    else if (read_line(file.reader) == ReadOutcome::end_of_input &&
             !ends_in_line_feed(file.stream))
        report(Severity::error, file.path, file.line_number,
               "long line: the last line has no line feed");
    else
        report(Severity::error, file.path, file.line_number, "long line: it holds a NUL byte");
}

char* next_line(SourceFile& file)
{
    if (!file.whole)
        return nullptr;
    ReadOutcome outcome = read_line(file.reader);
    if (outcome == ReadOutcome::end_of_input) {
        if (read_failed(file.reader)) {
            report(Severity::error, file.path, 0, "read error: %s", strerror(errno));
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
    return line_text(&file.reader);
}

bool close_source(SourceFile& file)
{
    fclose(file.stream);
    return file.whole;
}
