// Fuzzes the two newsfeeds loaders on arbitrary file contents. The input is
// written to "kestro/newsfeeds" in a private working directory; the rules
// that load_feed_rules returns are compared with a plain reading of the
// file's line rules, load_feed_patterns must give each feed's patterns in
// the same order, and a failure must be reported once, on standard error,
// by both loaders alike. Whatever a loader allocates is either returned or
// freed: the leak checker sees every input.
#include "feed_rules.h"
#include "fuzz_support.h"

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Rule {
    std::string feed_name;
    std::string pattern;
    bool operator==(const Rule&) const = default;
};

// What the loaders must do with a file: give its rules, or fail with the
// one report of its first long or malformed line.
struct Expected {
    std::vector<Rule> rules;
    std::string report;  // empty when the file loads
};

constexpr size_t longest_line = 1023;  // with its line feed
constexpr size_t max_feeds_checked = 16;
const char long_line_report[] = "kestro/newsfeeds: long line\n";
const char malformed_report[] = "kestro/newsfeeds: malformed line\n";

// The file's line rules, read plainly: a line has at most 1022 bytes and a
// line feed, and no NUL; "#" starts a comment; a line left empty is
// skipped; every other line needs a tab between feed name and pattern.
Expected reference_load(const uint8_t* data, size_t size)
{
    Expected expected;
    size_t pos = 0;
    while (pos < size) {
        auto start = reinterpret_cast<const char*>(data + pos);
        auto line_feed = static_cast<const char*>(
            memchr(start, '\n', std::min(size - pos, longest_line)));
        if (line_feed == nullptr)
            return {{}, long_line_report};
        std::string line(start, line_feed);
        pos += line.size() + 1;
        if (line.find('\0') != std::string::npos)
            return {{}, long_line_report};
        line.resize(std::min(line.size(), line.find('#')));
        if (line.empty())
            continue;
        size_t tab = line.find('\t');
        if (tab == std::string::npos)
            return {{}, malformed_report};
        expected.rules.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return expected;
}

// The private working directory, made once per process, and the
// descriptors used to step into it and to catch standard error.
struct Workspace {
    std::string path;
    int home;          // the directory the fuzzer runs in
    int private_dir;   // holds kestro/newsfeeds and the caught reports
    int real_stderr;   // a copy of the real standard error
};

Workspace* workspace;

// Removes the private directory when the process ends.
void remove_workspace()
{
    unlink((workspace->path + "/kestro/newsfeeds").c_str());
    unlink((workspace->path + "/stderr").c_str());
    rmdir((workspace->path + "/kestro").c_str());
    rmdir(workspace->path.c_str());
}

// Where to make the private directory: in memory where the system has such
// a place, since every input is written to a file and read many times.
std::string temporary_directory()
{
    struct stat status;
    if (stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode) && access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    const char* tmp = getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// Makes the private directory with its "kestro" subdirectory.
void make_workspace()
{
    std::string path = temporary_directory() + "/newsfeeds_fuzz.XXXXXX";
    FUZZ_CHECK(mkdtemp(path.data()) != nullptr);
    FUZZ_CHECK(mkdir((path + "/kestro").c_str(), 0700) == 0);
    workspace = new Workspace{path, open(".", O_RDONLY | O_DIRECTORY),
                              open(path.c_str(), O_RDONLY | O_DIRECTORY), dup(STDERR_FILENO)};
    FUZZ_CHECK(workspace->home >= 0 && workspace->private_dir >= 0 && workspace->real_stderr >= 0);
    atexit(remove_workspace);
    // Sanitizer reports keep going to the real standard error while the
    // loaders' own reports are caught. The interface takes the descriptor
    // in a pointer.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(workspace->real_stderr)));
}

// Makes a new empty file. Truncating the old one instead would make some
// file systems write it out at every close, which slows the fuzzing down
// many times over.
int new_file(const char* path, int flags)
{
    unlink(path);
    return open(path, flags | O_CREAT | O_EXCL, 0600);
}

// Writes the whole input to kestro/newsfeeds.
void write_newsfeeds(const uint8_t* data, size_t size)
{
    int fd = new_file("kestro/newsfeeds", O_WRONLY);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(write(fd, data, size) == static_cast<ssize_t>(size));
    FUZZ_CHECK(close(fd) == 0);
}

// Reads back what a descriptor's file holds.
std::string file_text(int fd)
{
    std::string text;
    char buffer[256];
    ssize_t got;
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    return text;
}

// Runs load with standard error sent to a file; returns what it wrote
// there.
template <typename Load>
std::string caught_stderr(Load load)
{
    int file = new_file("stderr", O_RDWR);
    FUZZ_CHECK(file >= 0);
    FUZZ_CHECK(dup2(file, STDERR_FILENO) == STDERR_FILENO);
    load();
    FUZZ_CHECK(dup2(workspace->real_stderr, STDERR_FILENO) == STDERR_FILENO);
    std::string text = file_text(file);
    close(file);
    return text;
}

// Frees a list of patterns, returning its patterns in order.
std::vector<std::string> taken_patterns(FeedPattern* list)
{
    std::vector<std::string> patterns;
    for (const FeedPattern* record = list; record != nullptr; record = record->next)
        patterns.emplace_back(record->pattern);
    free_feed_patterns(list);
    return patterns;
}

// The rules of a list, in order; checks what no feed name or pattern can hold.
std::vector<Rule> listed_rules(const FeedRule* rule)
{
    std::vector<Rule> rules;
    for (; rule != nullptr; rule = rule->next) {
        FUZZ_CHECK(strpbrk(rule->feed_name, "\t#\n") == nullptr);
        FUZZ_CHECK(strpbrk(rule->pattern, "#\n") == nullptr);
        rules.push_back({rule->feed_name, rule->pattern});
    }
    return rules;
}

// The patterns of one feed's rules, in file order.
std::vector<std::string> patterns_of(const std::vector<Rule>& rules, const std::string& feed)
{
    std::vector<std::string> patterns;
    for (const Rule& rule : rules) {
        if (rule.feed_name == feed)
            patterns.push_back(rule.pattern);
    }
    return patterns;
}

// load_feed_patterns for one feed: the same outcome and report as expected,
// and that feed's patterns in file order.
void check_patterns(const Expected& expected, const std::string& feed)
{
    std::optional<FeedPattern*> loaded;
    std::string report = caught_stderr([&] { loaded = load_feed_patterns(feed.c_str()); });
    FUZZ_CHECK(report == expected.report);
    FUZZ_CHECK(loaded.has_value() == expected.report.empty());
    if (loaded)
        FUZZ_CHECK(taken_patterns(*loaded) == patterns_of(expected.rules, feed));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (workspace == nullptr)
        make_workspace();
    FUZZ_CHECK(fchdir(workspace->private_dir) == 0);
    write_newsfeeds(data, size);
    Expected expected = reference_load(data, size);

    std::optional<FeedRule*> rules;
    std::string report = caught_stderr([&] { rules = load_feed_rules(); });
    FUZZ_CHECK(report == expected.report);
    FUZZ_CHECK(rules.has_value() == expected.report.empty());
    if (rules) {
        FUZZ_CHECK(listed_rules(*rules) == expected.rules);
        free_feed_rules(*rules);
    }

    // Every feed seen (a few at most), the empty name, and a name that no
    // line can hold: "#" always starts a comment.
    std::vector<std::string> feeds{"", "#"};
    for (const Rule& rule : expected.rules) {
        if (feeds.size() < max_feeds_checked &&
            std::find(feeds.begin(), feeds.end(), rule.feed_name) == feeds.end())
            feeds.push_back(rule.feed_name);
    }
    for (const std::string& feed : feeds)
        check_patterns(expected, feed);
    FUZZ_CHECK(fchdir(workspace->home) == 0);
    return 0;
}
