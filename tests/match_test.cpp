#include "match.h"
#include "path_filter.h"
#include "reference_match.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace {

enum class Form { name, path };

struct MatchCase {
    const char* pattern;
    Form form;
    const char* subject;  // a group name, or an article path
    bool matches;
};

// Shows the bytes of a string, escaping the unprintable ones.
std::string shown(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
    }
    return '"' + out + '"';
}

// Names a pattern and its subject in a failure report.
std::string pair_label(const std::string& pattern, Form form, const std::string& subject)
{
    return "pattern " + shown(pattern) + (form == Form::name ? " group " : " path ") +
           shown(subject);
}

// Calls the library's matcher as its callers do: the path form gets the
// path's last "/" found once with strrchr. The quick look of path_filter.h
// must never turn away a path that the pattern matches.
bool library_match(const char* pattern, Form form, const char* subject)
{
    if (form == Form::name)
        return match_group_name(pattern, subject);
    const char* last_slash = strrchr(subject, '/');
    bool matches = match_group_path(pattern, subject, last_slash);
    if (matches && !may_match_path(path_filter_for(pattern), subject,
                                   static_cast<size_t>(last_slash - subject)))
        ADD_FAILURE() << "the filter turns away " << pair_label(pattern, form, subject);
    return matches;
}

constexpr Form N = Form::name;
constexpr Form P = Form::path;

}  // namespace

TEST(Match, PatternLanguage)
{
    const MatchCase cases[] = {
        // Wildcards, and the whole name has to match.
        {"comp.*", N, "comp.lang.c", true},
        {"comp.*", P, "comp/lang/c/123", true},
        {"comp.*", N, "comp", false},
        {"comp.*", P, "comp/123", false},
        {"comp.*", N, "comp.", true},
        {"comp.*", P, "comp//5", true},
        {"comp", N, "comp", true},
        {"comp", P, "comp/123", true},
        {"comp", N, "comp.lang.c", false},
        {"comp", N, "compilers", false},
        {"comp", P, "comp/lang/c/123", false},
        {"comp", P, "compilers/5", false},
        {"comp*", N, "comp", true},
        {"comp*", N, "compilers", true},
        {"comp*", N, "comp.lang.c", true},
        {"comp*", P, "comp/1", true},
        {"comp*", P, "compilers/1", true},
        {"comp*", P, "comp/lang/c/1", true},
        {"*", N, "comp.lang.c", true},
        {"*", N, "", true},
        {"*", P, "comp/lang/c/1", true},
        {"*", P, "/123", true},
        {"*", P, "123", false},
        {"", P, "/123", true},
        {"", N, "", true},
        {"", N, "comp", false},
        {"", P, "comp/123", false},
        {"", P, "123", false},
        {"**", N, "", true},
        {"**", N, "comp.lang.c", true},
        {"**", P, "/1", true},
        {"*.c", N, "comp.lang.c", true},
        {"*.c", N, "c", false},
        {"comp.*.c", N, "comp.lang.c", true},
        {"comp.*.c", N, "comp.c", false},
        {"comp.lang.?", N, "comp.lang.c", true},
        {"comp.lang.?", N, "comp.lang", false},
        {"comp.lang.?", N, "comp.lang.cc", false},
        {"comp?lang", N, "comp.lang", true},
        {"comp?lang", N, "compxlang", true},
        {"comp?lang", P, "comp/lang/1", true},
        {"comp?lang", P, "comp.lang/1", true},
        // "." is itself in the name form and "/" in the path form.
        {"comp.lang", N, "compxlang", false},
        {"comp.lang", P, "comp/lang/1", true},
        {"comp.lang", P, "comp.lang/1", false},
        {"comp/lang", P, "comp/lang/1", true},
        {"comp/lang", N, "comp/lang", true},
        // The group part of a path ends at its last "/".
        {"comp.lang.c", P, "comp/lang/c/", true},
        {"comp.lang.c", P, "/var/spool/news/comp/lang/c/5", false},
        {"comp.lang.c*", P, "comp/lang/c/123", true},
        {"*3", P, "comp/123", false},
        // Sets.
        {"[ab]x", N, "ax", true},
        {"[ab]x", N, "bx", true},
        {"[ab]x", N, "cx", false},
        {"[ab]x", N, "x", false},
        {"[ab]x", N, "abx", false},
        {"[^ab]x", N, "cx", true},
        {"[^ab]x", N, "ax", false},
        {"[^ab]x", N, "x", false},
        {"[a-c]", N, "a", true},
        {"[a-c]", N, "b", true},
        {"[a-c]", N, "c", true},
        {"[a-c]", N, "d", false},
        {"[a-c]", N, "", false},
        {"[a-c-e]", N, "a", true},
        {"[a-c-e]", N, "c", true},
        {"[a-c-e]", N, "e", true},
        {"[a-c-e]", N, "-", true},
        {"[a-c-e]", N, "d", false},
        {"[]a]", N, "]", true},
        {"[]a]", N, "a", true},
        {"[]a]", N, "b", false},
        {"[^]a]", N, "b", true},
        {"[^]a]", N, "]", false},
        {"[^]a]", N, "a", false},
        {"[-a]", N, "-", true},
        {"[-a]", N, "a", true},
        {"[a-]", N, "-", true},
        {"[a-]", N, "a", true},
        {"[a-]", N, "b", false},
        {"[c-a]", N, "c", true},
        {"[c-a]", N, "a", false},
        {"[c-a]", N, "b", false},
        {"[--0]", N, "-", true},
        {"[--0]", N, ".", true},
        {"[--0]", N, "/", true},
        {"[--0]", N, "0", true},
        {"[--0]", N, "1", false},
        {"[abc", N, "b", true},
        {"[abc", N, "bc", false},
        {"[]", N, "]", true},
        {"[]", N, "", false},
        {"[^]", N, "a", true},
        {"[^]", N, "\xff", true},
        {"[^]", N, "]", false},
        {"[^]", N, "ab", false},
        {"abc[", N, "abc", false},
        {"abc[", N, "abcd", false},
        {"abc[^", N, "abcd", true},
        {"abc[^", N, "abc", false},
        {"a[bc]", N, "a", false},
        {"a[bc]", N, "ab", true},
        {"a[bc]", N, "abc", false},
        {"x[.]y", N, "x.y", true},
        {"x[.]y", P, "x.y/1", true},
        {"x[.]y", P, "x/y/1", false},
        {"x[*?[]y", N, "x?y", true},
        {"x[*?[]y", N, "xay", false},
        // No escape character, no case folding.
        {"a\\*b", N, "a\\b", true},
        {"a\\*b", N, "a\\xyzb", true},
        {"a\\*b", N, "a*b", false},
        {"Comp.*", N, "comp.lang.c", false},
        // Bytes from 128 up compare as unsigned values.
        {"\xe9", N, "\xe9", true},
        {"\xe9", P, "\xe9/1", true},
        {"\xe9", N, "\xe8", false},
        {"\xe9*", N, "\xe9xyz", true},
        {"\xe9*", P, "\xe9xyz/1", true},
        {"[\xff]", N, "\xff", true},
        {"[\x80-\xff]", N, "\xe9", true},
        {"[\x80-\xff]", N, "\x7f", false},
        {"[a-\xff]", N, "\xe9", true},
        // Blanks and a carriage return are bytes like the others.
        {"comp \r", N, "comp \r", true},
        {"comp \r", N, "comp", false},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(pair_label(c.pattern, c.form, c.subject));
        EXPECT_EQ(library_match(c.pattern, c.form, c.subject), c.matches);
    }
}

// Stars that all retry in vain must not take exponential time: this case
// would run for ages if each star tried the rest at every position.
TEST(Match, ManyStarsOnLongName)
{
    const std::string a_run(1000, 'a');
    const char* pattern = "*a*a*a*a*a*a*a*a*a*a*b";
    EXPECT_FALSE(match_group_name(pattern, a_run.c_str()));
    EXPECT_TRUE(match_group_name(pattern, (a_run + "b").c_str()));
    const std::string path = a_run + "/1";
    EXPECT_FALSE(match_group_path(pattern, path.c_str(), strrchr(path.c_str(), '/')));
}

namespace {

// A reproducible stream of small random choices; the engine's raw output is
// used directly, as the standard distributions differ between libraries.
struct Chooser {
    std::mt19937 engine{20240611};

    size_t below(size_t bound) { return engine() % bound; }
    bool one_in(size_t odds) { return below(odds) == 0; }
    char pick(const std::string& from) { return from[below(from.size())]; }
};

const std::string pattern_bytes = std::string("*?[]^-./ab") + "\x80\xe9\xff";
const std::string name_bytes = std::string("]^-./ab") + "\x80\xe9\xff";

// A pattern of up to 10 bytes with at most 4 stars.
std::string random_pattern(Chooser& chooser)
{
    std::string pattern;
    size_t length = chooser.below(11);
    int stars = 0;
    while (pattern.size() < length) {
        char c = chooser.pick(pattern_bytes);
        if (c == '*' && ++stars > 4)
            continue;
        pattern += c;
    }
    return pattern;
}

// A name that the pattern was written for, byte by byte, so that many pairs
// match; nothing guarantees it, as sets and dots are filled at random.
std::string name_after(const std::string& pattern, Chooser& chooser)
{
    std::string name;
    for (char c : pattern) {
        if (c == '*') {
            for (size_t run = chooser.below(4); run > 0; --run)
                name += chooser.pick(name_bytes);
        } else if (c == '.') {
            name += chooser.one_in(2) ? '/' : '.';
        } else if (c == '?' || c == '[') {
            name += chooser.pick(name_bytes);
        } else if (c != ']' && c != '^') {
            name += c;
        }
    }
    return name;
}

// Changes, inserts or removes one byte now and then.
void mutate(std::string& name, Chooser& chooser)
{
    if (!chooser.one_in(3))
        return;
    size_t at = chooser.below(name.size() + 1);
    switch (chooser.below(3)) {
    case 0:
        name.insert(at, 1, chooser.pick(name_bytes));
        break;
    case 1:
        if (at < name.size())
            name[at] = chooser.pick(name_bytes);
        break;
    default:
        if (at < name.size())
            name.erase(at, 1);
        break;
    }
}

// A subject for the pattern: sometimes wholly random, mostly derived from
// the pattern; paths get an article file name after a last "/" most times.
std::string random_subject(const std::string& pattern, Form form, Chooser& chooser)
{
    std::string subject;
    if (chooser.one_in(4)) {
        for (size_t length = chooser.below(12); length > 0; --length)
            subject += chooser.pick(name_bytes);
    } else {
        subject = name_after(pattern, chooser);
        mutate(subject, chooser);
    }
    if (form == Form::path && !chooser.one_in(10))
        subject += chooser.one_in(2) ? "/1" : "/";
    return subject;
}

}  // namespace

// The library's matcher against the plain recursive one on many patterns
// and names over a small alphabet of the bytes that matter.
TEST(Match, AgreesWithRecursiveMatcher)
{
    Chooser chooser;
    size_t matched = 0;
    size_t pairs = 0;
    size_t disagreements = 0;
    for (int round = 0; round < 200000; ++round) {
        const std::string pattern = random_pattern(chooser);
        for (Form form : {Form::name, Form::path}) {
            const std::string subject = random_subject(pattern, form, chooser);
            bool expected = form == Form::name
                                ? reference::match_name(pattern.c_str(), subject.c_str())
                                : reference::match_path(pattern.c_str(), subject.c_str());
            bool got = library_match(pattern.c_str(), form, subject.c_str());
            ++pairs;
            matched += expected;
            if (got != expected && ++disagreements <= 20) {
                ADD_FAILURE() << pair_label(pattern, form, subject) << ": got " << got
                              << ", expected " << expected;
            }
        }
    }
    EXPECT_EQ(disagreements, 0u);
    // The comparison only means something when both results are common.
    EXPECT_GT(matched, pairs / 10);
    EXPECT_LT(matched, pairs * 9 / 10);
}
