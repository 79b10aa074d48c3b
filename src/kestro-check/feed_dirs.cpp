#include "feed_dirs.h"

#include "findings.h"
#include "paths.h"
#include "queue_path.h"
#include "startup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

// True when the regular file ends in a byte other than a line feed. A file
// that cannot be read (a queue may be write-only) says nothing.
static bool ends_unfinished(const char* path, const struct stat& st)
{
    if (!S_ISREG(st.st_mode) || st.st_size == 0)
        return false;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    char last = '\n';
    bool read_it = pread(fd, &last, 1, st.st_size - 1) == 1;
    close(fd);
    return read_it && last != '\n';
}

// Checks the existing queue file at path: can it be appended to, and does
// its last line end?
static void check_queue_file(const CheckedRule& rule, const char* path, const struct stat& st)
{
    if (access(path, W_OK) != 0)
        report(Severity::error, path_newsfeeds, rule.line, "feed %s: cannot append to %s: %s",
               shown(rule.feed_name.c_str()).c_str(), shown(path).c_str(), strerror(errno));
    if (ends_unfinished(path, st))
        report(Severity::warning, path, 0, "last line has no line feed");
}

// Checks the directory that must hold a queue file not made yet.
static void check_directory(const CheckedRule& rule, const std::string& directory)
{
    std::string feed_text = shown(rule.feed_name.c_str());
    std::string directory_text = shown(directory.c_str());
    const char* feed = feed_text.c_str();
    const char* shown_directory = directory_text.c_str();
    struct stat st;
    if (stat(directory.c_str(), &st) != 0) {
        if (errno == ENOENT)
            report(Severity::error, path_newsfeeds, rule.line,
                   "feed %s: no directory %s: feedqueue fails at the feed's first article",
                   feed, shown_directory);
        else
            report(Severity::error, path_newsfeeds, rule.line, "feed %s: cannot reach %s: %s",
                   feed, shown_directory, strerror(errno));
    } else if (!S_ISDIR(st.st_mode)) {
        report(Severity::error, path_newsfeeds, rule.line, "feed %s: %s is not a directory",
               feed, shown_directory);
    } else if (access(directory.c_str(), W_OK | X_OK) != 0) {
        report(Severity::error, path_newsfeeds, rule.line,
               "feed %s: cannot create the queue file in %s: %s", feed, shown_directory,
               strerror(errno));
    }
}

// Checks the queue file of the rule's feed, or its directory when there is
// no queue file yet; paths as feedqueue makes them. False when there was
// no memory for the path.
static bool check_feed(const CheckedRule& rule)
{
    char* queue = static_cast<char*>(malloc(queue_path_size(rule.feed_name.c_str())));
    if (queue == nullptr) {
        perror(program_name());
        return false;
    }
    format_queue_path(queue, rule.feed_name.c_str());
    struct stat st;
    if (stat(queue, &st) == 0) {
        check_queue_file(rule, queue, st);
    } else {
        std::string directory(queue, strrchr(queue, '/'));
        check_directory(rule, directory);
    }
    free(queue);
    return true;
}

bool check_feed_directories(const RuleList& rules)
{
    std::unordered_set<std::string> seen;
    for (const CheckedRule& rule : rules) {
        if (seen.insert(rule.feed_name).second && !check_feed(rule))
            return false;
    }
    return true;
}
