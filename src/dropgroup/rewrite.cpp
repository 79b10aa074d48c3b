#include "rewrite.h"

#include "active.h"
#include "line_reader.h"
#include "newsgroups.h"
#include "paths.h"
#include "replacement_file.h"
#include "startup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

// The error for a file to be rewritten that is no regular file.
#ifdef EFTYPE
static const int not_a_file = EFTYPE;
#else
static const int not_a_file = EINVAL;
#endif

enum class LineCopy { written, dropped, malformed, long_line };

// Parses one line of the pair's file and writes it to out unless it
// belongs to group. The line is parsed whole first: a malformed line of the
// group itself is an error too. A line that would come out longer than a
// reader accepts is not written, lest the new file be unreadable.
static LineCopy copy_line(FileKind kind, char* line, const char* group, FILE* out)
{
    if (kind == FileKind::active) {
        std::optional<ActiveEntry> entry = parse_active_entry(line);
        if (!entry)
            return LineCopy::malformed;
        if (strcmp(entry->name, group) == 0)
            return LineCopy::dropped;
        if (active_entry_length(*entry) > line_buffer_size - 1)
            return LineCopy::long_line;
        format_active_entry(out, *entry);
    } else {
        std::optional<NewsgroupsEntry> entry = parse_newsgroups_entry(line);
        if (!entry)
            return LineCopy::malformed;
        if (strcmp(entry->name, group) == 0)
            return LineCopy::dropped;
        format_newsgroups_entry(out, *entry);
    }
    return LineCopy::written;
}

// Copies the file to out without the group's lines. Reports the first long
// or malformed line, a write failure and a read error; false after any.
static bool copy_without_group(const FilePair& pair, FILE* in, FILE* out, const char* group)
{
    LineReader reader{in, {}};
    bool copied = true;
    for (ReadOutcome outcome; (outcome = read_line(reader)) != ReadOutcome::end_of_input;) {
        LineCopy result = LineCopy::long_line;
        if (outcome == ReadOutcome::line)
            result = copy_line(pair.kind, reader.buffer, group, out);
        if (result == LineCopy::long_line) {
            fprintf(stderr, "%s: long line\n", pair.path);
            copied = false;
            break;
        }
        if (result == LineCopy::malformed) {
            fprintf(stderr, "%s: malformed line\n", pair.path);
            copied = false;
            break;
        }
        if (result == LineCopy::written && ferror(out) != 0) {
            perror(pair.replacement_path);
            copied = false;
            break;
        }
    }
    if (read_failed(reader)) {
        perror(pair.path);
        copied = false;
    }
    return copied;
}

// Pushes the stream's contents to stable storage before it is renamed
// into place, so that a crash cannot leave an empty or partial file there.
static bool flush_to_disk(FILE* out)
{
    return fflush(out) == 0 && fsync(fileno(out)) == 0;
}

// Removes the replacement file after a failure, reporting a failed removal
// and a file that is no longer this run's, which stays.
static bool give_up(const FilePair& pair)
{
    if (!discard_replacement(pair.replacement_path))
        perror(pair.replacement_path);
    return false;
}

// Closes the replacement stream; reports a failure.
static bool close_replacement(const FilePair& pair, FILE* out)
{
    if (fclose(out) == 0)
        return true;
    perror(pair.replacement_path);
    return false;
}

// True for what may be rewritten: a regular file, or a directory, whose
// reading then fails as a read error.
static bool is_copyable(const struct stat& st)
{
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

// Opens the file to be rewritten. A FIFO or a device is refused before
// it is opened: reading it would wait for a writer, or never end, while
// this run holds the lock. nullptr with errno set.
static FILE* open_original(const char* path)
{
    struct stat st;
    if (stat(path, &st) == 0 && !is_copyable(st)) {
        errno = not_a_file;
        return nullptr;
    }
    FILE* in = fopen(path, "r");
    if (in != nullptr && fstat(fileno(in), &st) == 0 && !is_copyable(st)) {
        fclose(in);
        errno = not_a_file;
        return nullptr;
    }
    return in;
}

bool rewrite_without_group(const FilePair& pair, const char* group)
{
    int fd = lock_replacement(pair.replacement_path);
    if (fd < 0) {
        perror(pair.replacement_path);
        return false;
    }
    FILE* out = fdopen(fd, "w");
    if (out == nullptr) {
        perror(pair.replacement_path);
        close(fd);
        return give_up(pair);
    }
    FILE* in = open_original(pair.path);
    if (in == nullptr) {
        perror(pair.path);
        close_replacement(pair, out);
        return give_up(pair);
    }
    bool copied = copy_without_group(pair, in, out, group);
    fclose(in);
    if (copied && !flush_to_disk(out)) {
        perror(pair.replacement_path);
        copied = false;
    }
    if (!close_replacement(pair, out) || !copied)
        return give_up(pair);
    switch (commit_replacement(pair.replacement_path, pair.path)) {
    case Commit::renamed:
        break;
    case Commit::not_ours:
        // Someone took the lock away by hand and another writer holds it
        // now: its file is neither renamed nor removed.
        perror(pair.replacement_path);
        return false;
    case Commit::failed:
        perror(program_name());
        return give_up(pair);
    }
    if (!sync_directory(config_directory)) {
        perror(config_directory);
        return false;
    }
    return true;
}
