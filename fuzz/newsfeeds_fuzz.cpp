// Fuzzes the two newsfeeds loaders on arbitrary file contents, read from a
// file in memory through the loaders' own reading of a file; the rules
// that load_feed_rules returns are compared with a plain reading of the
// file's line rules, load_feed_patterns must give each feed's patterns in
// the same order, and a failure must be reported once, on standard error,
// by both loaders alike. Whatever a loader allocates is either returned or
// freed: the leak checker sees every input.
#include "feed_rules.h"
#include "fuzz_support.h"

#include <sanitizer/common_interface_defs.h>
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

constexpr size_t longest_with_feed = 1023;  // a line with its line feed
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
            memchr(start, '\n', std::min(size - pos, longest_with_feed)));
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

// A copy of the real standard error, where sanitizer reports keep going
// while the loaders' own reports are caught.
int real_stderr = -1;

// Makes the copy, once per process.
void keep_real_stderr()
{
    real_stderr = dup(STDERR_FILENO);
    FUZZ_CHECK(real_stderr >= 0);
    // The interface takes the descriptor in a pointer.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(real_stderr)));
}

// Runs load with standard error sent to a file; returns what it wrote
// there.
template <typename Load>
std::string caught_stderr(Load load)
{
    int file = memory_file("", 0);
    FUZZ_CHECK(dup2(file, STDERR_FILENO) == STDERR_FILENO);
    load();
    FUZZ_CHECK(dup2(real_stderr, STDERR_FILENO) == STDERR_FILENO);
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
void check_patterns(int newsfeeds, const Expected& expected, const std::string& feed)
{
    std::optional<FeedPattern*> loaded;
    std::string report = caught_stderr([&] {
        start_line_reader(fuzz_reader, newsfeeds);
        loaded = read_feed_patterns(fuzz_reader, feed.c_str());
    });
    FUZZ_CHECK(report == expected.report);
    FUZZ_CHECK(loaded.has_value() == expected.report.empty());
    if (loaded)
        FUZZ_CHECK(taken_patterns(*loaded) == patterns_of(expected.rules, feed));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (real_stderr < 0)
        keep_real_stderr();
    int newsfeeds = memory_file(data, size);
    Expected expected = reference_load(data, size);

    std::optional<FeedRule*> rules;
    std::string report = caught_stderr([&] {
        start_line_reader(fuzz_reader, newsfeeds);
        rules = read_feed_rules(fuzz_reader);
    });
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
    for (const std::string& feed : feeds) {
        FUZZ_CHECK(lseek(newsfeeds, 0, SEEK_SET) == 0);
        check_patterns(newsfeeds, expected, feed);
    }
    close(newsfeeds);
    return 0;
}
