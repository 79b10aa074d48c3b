#include "match.h"

#include <cstring>

using Byte = unsigned char;

// Matches the set whose notation begins at p, just after its "[", against
// the byte b. Returns the pattern position after the set (after its "]", or
// the end of a set that runs to the end of the pattern), or nullptr.
static const Byte* match_set(const Byte* p, Byte b)
{
    bool negated = *p == '^';
    if (negated)
        ++p;
    bool member = false;
    int previous = -1;  // the previous single member, none at first
    while (*p != '\0') {
        if (*p == '-' && previous >= 0 && p[1] != ']' && p[1] != '\0') {
            // A range; a reversed one holds nothing.
            if (previous <= b && b <= p[1])
                member = true;
            p += 2;
            previous = -1;
        } else {
            // The first member is always a single one, even "]" or "-".
            if (*p == b)
                member = true;
            previous = *p;
            ++p;
        }
        if (*p == ']') {
            ++p;
            break;
        }
    }
    return member != negated ? p : nullptr;
}

// Matches the one-byte element at p (anything but "*" and the end) against
// b; returns the pattern position after it, or nullptr.
static const Byte* match_element(const Byte* p, Byte b, bool dot_matches_slash)
{
    switch (*p) {
    case '\0':
        return nullptr;
    case '?':
        return p + 1;
    case '[':
        return match_set(p + 1, b);
    case '.':
        if (dot_matches_slash)
            return b == '/' ? p + 1 : nullptr;
        break;
    default:
        break;
    }
    return *p == b ? p + 1 : nullptr;
}

// The byte value that the name must hold where the pattern after a star
// starts to match, when its first element stands for a single value; -1
// when it is "?" or a set.
static int first_byte(const Byte* p, bool dot_matches_slash)
{
    if (*p == '?' || *p == '[')
        return -1;
    if (*p == '.' && dot_matches_slash)
        return '/';
    return *p;
}

// The first position from n on that holds the wanted byte (any position
// when there is none); end when no such byte follows.
static const Byte* next_start(int wanted, const Byte* n, const Byte* end)
{
    if (wanted >= 0) {
        while (n < end && *n != wanted)
            ++n;
    }
    return n;
}

// Every element but "*" takes exactly one byte, so when the rest of the
// pattern fails after a star, only the last star met needs to take one byte
// more: earlier stars could not do better. The cost is thus at most the
// pattern length times the name length, with no recursion. A star skips
// the positions where the rest cannot even start to match.
static bool match(const Byte* p, const Byte* n, const Byte* end, bool dot_matches_slash)
{
    const Byte* after_star = nullptr;  // the pattern after the last star met
    const Byte* star_end = nullptr;    // where that star's run ends so far
    int wanted = -1;                   // the first byte that the rest needs
    for (;;) {
        if (*p == '*') {
            while (*++p == '*') {
            }
            if (*p == '\0')
                return true;  // a final star takes the whole rest
            after_star = p;
            wanted = first_byte(p, dot_matches_slash);
            star_end = n = next_start(wanted, n, end);
            continue;
        }
        if (n < end) {
            if (const Byte* next = match_element(p, *n, dot_matches_slash)) {
                p = next;
                ++n;
                continue;
            }
        } else if (*p == '\0') {
            return true;
        }
        if (after_star == nullptr || star_end == end)
            return false;
        p = after_star;
        n = star_end = next_start(wanted, star_end + 1, end);
    }
}

// The bytes that a literal start of a pattern stops at: its end and the
// wildcards, and in the path form also ".", which stands for "/".
struct LiteralStops {
    bool stops[256];
};

// The stops of one form of the matcher.
static constexpr LiteralStops literal_stops(bool dot_matches_slash)
{
    LiteralStops table{};
    table.stops[Byte('\0')] = true;
    table.stops[Byte('*')] = true;
    table.stops[Byte('?')] = true;
    table.stops[Byte('[')] = true;
    table.stops[Byte('.')] = dot_matches_slash;
    return table;
}

static constexpr LiteralStops name_stops = literal_stops(false);
static constexpr LiteralStops path_stops = literal_stops(true);

bool match_group_name(const char* pattern, const char* name)
{
    auto p = reinterpret_cast<const Byte*>(pattern);
    auto n = reinterpret_cast<const Byte*>(name);
    // The bytes before the first wildcard stand for themselves. Comparing
    // them first turns most names away before the name is even measured,
    // and a pattern such as "comp.*" is then decided at its star.
    for (; !name_stops.stops[*p]; ++p, ++n) {
        if (*p != *n)
            return false;
    }
    if (*p == '\0')
        return *n == '\0';
    if (p[0] == '*' && p[1] == '\0')
        return true;
    return match(p, n, n + strlen(reinterpret_cast<const char*>(n)), false);
}

bool match_group_path(const char* pattern, const char* path, const char* last_slash)
{
    if (last_slash == nullptr)
        return false;
    auto p = reinterpret_cast<const Byte*>(pattern);
    auto n = reinterpret_cast<const Byte*>(path);
    auto end = reinterpret_cast<const Byte*>(last_slash);
    // The literal start, compared first as in match_group_name; here a "."
    // stands for a "/". The group part ends at the last "/", so a byte of
    // it that is compared is never past its end unless it is that "/".
    for (;; ++p, ++n) {
        if (!path_stops.stops[*p]) {
            if (*n != *p || n == end)
                return false;
        } else if (*p == '.') {
            if (*n != '/' || n == end)
                return false;
        } else {
            break;
        }
    }
    if (*p == '\0')
        return n == end;
    if (p[0] == '*' && p[1] == '\0')
        return true;
    return match(p, n, end, true);
}
