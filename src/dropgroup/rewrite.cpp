#include "rewrite.h"

#include "active.h"
#include "line_reader.h"
#include "newsgroups.h"
#include "output_buffer.h"
#include "paths.h"
#include "replacement_file.h"
#include "startup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The error for a file to be rewritten that is no regular file.
#ifdef EFTYPE
static const int not_a_file = EFTYPE;
#else
static const int not_a_file = EINVAL;
#endif

enum class LineCopy { written, dropped, malformed, long_line };

// True when the line's name is the group's. The first bytes differ on
// nearly every line, which spares the call.
static bool is_group(const char* name, const char* group)
{
    return name[0] == group[0] && strcmp(name, group) == 0;
}

// Parses one line of the pair's file and writes it to out unless it
// belongs to group. The line is parsed whole first: a malformed line of the
// group itself is an error too. A line that would come out longer than a
// reader accepts is not written, lest the new file be unreadable.
static LineCopy copy_line(FileKind kind, char* line, const char* group, OutputBuffer& out)
{
    if (kind == FileKind::active) {
        std::optional<ActiveEntry> entry = parse_active_entry(line);
        if (!entry)
            return LineCopy::malformed;
        if (is_group(entry->name, group))
            return LineCopy::dropped;
        if (active_entry_length(*entry) > longest_line + 1)
            return LineCopy::long_line;
        format_active_entry(out, *entry);
    } else {
        std::optional<NewsgroupsEntry> entry = parse_newsgroups_entry(line);
        if (!entry)
            return LineCopy::malformed;
        if (is_group(entry->name, group))
            return LineCopy::dropped;
        format_newsgroups_entry(out, *entry);
    }
    return LineCopy::written;
}

// Copies the file in to out without the group's lines; what is left in
// out's buffer is the caller's to write out. Reports the first long or
// malformed line, a write failure and a read error; false after any.
static bool copy_without_group(const FilePair& pair, int in, OutputBuffer& out,
                               const char* group)
{
    LineReader reader;
    start_line_reader(reader, in);
    bool copied = true;
    for (ReadOutcome outcome; (outcome = read_line(reader)) != ReadOutcome::end_of_input;) {
        LineCopy result = LineCopy::long_line;
        if (outcome == ReadOutcome::line)
            result = copy_line(pair.kind, reader.line, group, out);
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
        if (result == LineCopy::written && out.error != 0) {
            errno = out.error;
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

// Writes out the rest of the copy and pushes the file to stable storage
// before it is renamed into place, so that a crash cannot leave an empty
// or partial file there. False with errno set.
static bool finish_copy(OutputBuffer& out)
{
    return flush_output(out) && fsync(out.fd) == 0;
}

// Removes the replacement file after a failure, reporting a failed removal
// and a file that is no longer this run's, which stays.
static bool give_up(const FilePair& pair)
{
    if (!discard_replacement(pair.replacement_path))
        perror(pair.replacement_path);
    return false;
}

// Closes the replacement file; reports a failure.
static bool close_replacement(const FilePair& pair, int fd)
{
    if (close(fd) == 0)
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

// Opens the file to be rewritten for reading. A FIFO or a device is
// refused before it is opened: reading it would wait for a writer, or
// never end, while this run holds the lock. -1 with errno set.
static int open_original(const char* path)
{
    struct stat st;
    if (stat(path, &st) == 0 && !is_copyable(st)) {
        errno = not_a_file;
        return -1;
    }
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && fstat(fd, &st) == 0 && !is_copyable(st)) {
        close(fd);
        errno = not_a_file;
        return -1;
    }
    return fd;
}

// Puts the finished replacement file in place of the file. Reports a
// failure; false after one.
static bool commit(const FilePair& pair)
{
    switch (commit_replacement(pair.replacement_path, pair.path)) {
    case Commit::renamed:
        break;
    case Commit::not_ours:
        // Someone took the lock away by hand and another writer may hold
        // it now: its file is neither renamed nor removed.
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

bool rewrite_without_group(const FilePair& pair, const char* group)
{
    int fd = lock_replacement(pair.replacement_path);
    if (fd < 0) {
        perror(pair.replacement_path);
        return false;
    }
    int in = open_original(pair.path);
    if (in < 0) {
        perror(pair.path);
        close_replacement(pair, fd);
        return give_up(pair);
    }
    OutputBuffer out;
    start_output(out, fd);
    bool copied = copy_without_group(pair, in, out, group);
    close(in);
    if (copied && !finish_copy(out)) {
        perror(pair.replacement_path);
        copied = false;
    }
    bool closed = close_replacement(pair, fd);
    if (!closed || !copied)
        return give_up(pair);
    return commit(pair);
}
