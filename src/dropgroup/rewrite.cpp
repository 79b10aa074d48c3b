// Each step of the rewrite that can fail reports its own failure on
// standard error and returns false (or -1) after it, so that the reports
// come in the order the failures happen; the calls of replacement_file.h
// leave errno for these steps to report.
#include "rewrite.h"

#include "active.h"
#include "errors.h"
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

// How the copy of a line, or of the whole file, ended.
enum class Copy { done, malformed, long_line, write_failed };

// True when the line's name is the group's. The first bytes differ on
// nearly every line, which spares the call.
static bool is_group(const char* name, const char* group)
{
    return name[0] == group[0] && strcmp(name, group) == 0;
}

// Parses one line of active and writes it to out in normal form unless it
// belongs to group. The line is parsed whole first: a malformed line of the
// group itself is an error too. A line that would come out longer than a
// reader accepts is not written, lest the new file be unreadable. Most
// lines stand in normal form already; such a line is copied as it is,
// which is what parsing and writing it back would give.
static Copy copy_active_line(const LineReader& reader, const char* group, OutputBuffer& out)
{
    if (size_t name_length = normal_form_name_length(reader.line, reader.length)) {
        if (strncmp(reader.line, group, name_length) != 0 || group[name_length] != '\0')
            put_output(out, reader.line, reader.length);
        return Copy::done;
    }
    std::optional<ActiveEntry> entry = parse_active_entry(reader.line);
    if (!entry)
        return Copy::malformed;
    if (is_group(entry->name, group))
        return Copy::done;
    // The normal form is at most 3 bytes longer than the line read (two
    // missing numbers written as 0, and a blank): only lines that near the
    // limit need measuring.
    if (reader.length + 3 > longest_line + 1 && active_entry_length(*entry) > longest_line + 1)
        return Copy::long_line;
    format_active_entry(out, *entry);
    return Copy::done;
}

// Parses one line of newsgroups and writes it to out unless it belongs to
// group.
static Copy copy_newsgroups_line(const LineReader& reader, const char* group, OutputBuffer& out)
{
    std::optional<NewsgroupsEntry> entry = parse_newsgroups_entry(reader.line);
    if (!entry)
        return Copy::malformed;
    if (is_group(entry->name, group))
        return Copy::done;
    // What format_newsgroups_entry would write is the line as read: the
    // parse only cut it at its first tab, which goes back.
    put_line_as_read(out, reader.line, reader.length, entry->description - 1, '\t');
    return Copy::done;
}

// Copies the lines of the reader's file to out without the group's lines,
// stopping at the first long or malformed line or failed write. What is
// left in out's buffer is the caller's to write out.
static Copy copy_lines(FileKind kind, LineReader& reader, OutputBuffer& out, const char* group)
{
    for (ReadOutcome outcome; (outcome = read_line(reader)) != ReadOutcome::end_of_input;) {
        Copy copy = Copy::long_line;
        if (outcome == ReadOutcome::line)
            copy = kind == FileKind::active ? copy_active_line(reader, group, out)
                                           : copy_newsgroups_line(reader, group, out);
        if (copy == Copy::done && out.error != 0)
            copy = Copy::write_failed;
        if (copy != Copy::done)
            return copy;
    }
    return Copy::done;
}

// Reports a copy that stopped before the end of the file.
static void report_copy(const FilePair& pair, Copy copy, int write_error)
{
    switch (copy) {
    case Copy::done:
        break;
    case Copy::malformed:
        fprintf(stderr, "%s: malformed line\n", pair.path);
        break;
    case Copy::long_line:
        fprintf(stderr, "%s: long line\n", pair.path);
        break;
    case Copy::write_failed:
        report_error(pair.replacement_path, write_error);
        break;
    }
}

// Copies the open file in to the replacement file without the group's
// lines, then writes out the rest and pushes the file to stable storage
// before it is renamed into place, so that a crash cannot leave an empty
// or partial file there. Reports the first long or malformed line or
// failed write, then a read error; false after any.
static bool copy_file(const FilePair& pair, int in, int out_fd, const char* group)
{
    LineReader reader;
    start_line_reader(reader, in);
    OutputBuffer out;
    start_output(out, out_fd);
    Copy copy = copy_lines(pair.kind, reader, out, group);
    report_copy(pair, copy, out.error);
    if (read_failed(reader))
        report_error(pair.path, reader.error);
    if (copy != Copy::done || read_failed(reader))
        return false;
    if (!flush_output(out) || fsync(out_fd) != 0) {
        perror(pair.replacement_path);
        return false;
    }
    return true;
}

// True for what may be rewritten: a regular file, or a directory, whose
// reading then fails as a read error.
static bool is_copyable(const struct stat& st)
{
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

// Opens the file to be rewritten for reading. A FIFO or a device is
// refused before it is opened: reading it would wait for a writer, or
// never end, while this run holds the lock. Reports a failure; -1 then.
static int open_original(const char* path)
{
    struct stat st;
    int fd = -1;
    if (stat(path, &st) == 0 && !is_copyable(st))
        errno = not_a_file;
    else
        fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && fstat(fd, &st) == 0 && !is_copyable(st)) {
        close(fd);
        fd = -1;
        errno = not_a_file;
    }
    if (fd < 0)
        perror(path);
    return fd;
}

// Copies the file into the replacement file; reports every failure.
static bool copy_original(const FilePair& pair, int out_fd, const char* group)
{
    int in = open_original(pair.path);
    if (in < 0)
        return false;
    bool copied = copy_file(pair, in, out_fd, group);
    close(in);
    return copied;
}

// Removes the replacement file after a failure, reporting a failed removal
// and a file that is no longer this run's, which stays.
static bool give_up(const FilePair& pair)
{
    if (!discard_replacement(pair.replacement_path))
        perror(pair.replacement_path);
    return false;
}

// Puts the finished replacement file in place of the file and syncs the
// directory. Reports a failure; false after one.
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
    int out_fd = lock_replacement(pair.replacement_path);
    if (out_fd < 0) {
        perror(pair.replacement_path);
        return false;
    }
    bool copied = copy_original(pair, out_fd, group);
    // The close can fail after a clean copy (a delayed write error), and is
    // reported after a failed one as well.
    if (close(out_fd) != 0) {
        perror(pair.replacement_path);
        copied = false;
    }
    if (!copied)
        return give_up(pair);
    return commit(pair);
}
