// The group pattern matcher written the plain recursive way: a star tries
// the rest of the pattern at every position of the name in turn. Its cost
// grows like the name length raised to the number of stars, so it is only a
// yardstick: tests, fuzzing and benchmarks compare the library's matcher
// with it on patterns of a few stars.
#pragma once

#include <cstring>

namespace reference {

using Byte = unsigned char;

// Matches the set whose notation begins at p, just after its "[", against
// the name byte b. Moves p past the set; true when b is selected.
inline bool match_set(const Byte*& p, Byte b)
{
    bool negated = false;
    if (*p == '^') {
        negated = true;
        ++p;
    }
    bool in_set = false;
    if (*p != '\0') {
        int previous = -1;  // the previous single member; none yet
        for (;;) {
            Byte c = *p;
            if (c == '-' && previous >= 0 && p[1] != ']' && p[1] != '\0') {
                if (previous <= b && b <= p[1])
                    in_set = true;
                p += 2;
                previous = -1;
            } else {
                if (b == c)
                    in_set = true;
                ++p;
                previous = c;
            }
            if (*p == ']') {
                ++p;
                break;
            }
            if (*p == '\0')
                break;
        }
    }
    return in_set != negated;
}

// Matches the pattern p against the name from n up to end; a "." of the
// pattern matches "/" when dot_matches_slash is set.
inline bool walk(const Byte* p, const Byte* n, const Byte* end, bool dot_matches_slash)
{
    for (;;) {
        Byte c = *p;
        if (c == '\0')
            return n == end;
        ++p;
        if (c == '*') {
            if (n == end)
                continue;
            for (const Byte* at = n; at < end; ++at) {
                if (walk(p, at, end, dot_matches_slash))
                    return true;
            }
            n = end;
            continue;
        }
        if (n == end)
            return false;  // every other element takes one byte
        if (c == '[') {
            if (!match_set(p, *n))
                return false;
        } else if (c == '.' && dot_matches_slash) {
            if (*n != '/')
                return false;
        } else if (c != '?' && c != *n) {
            return false;
        }
        ++n;
    }
}

// The name form: the pattern against the whole group name.
inline bool match_name(const char* pattern, const char* name)
{
    auto n = reinterpret_cast<const Byte*>(name);
    return walk(reinterpret_cast<const Byte*>(pattern), n, n + strlen(name), false);
}

// The path form: the pattern against the bytes of the path before its last
// "/"; a path without "/" matches nothing.
inline bool match_path(const char* pattern, const char* path)
{
    const char* last_slash = strrchr(path, '/');
    if (last_slash == nullptr)
        return false;
    return walk(reinterpret_cast<const Byte*>(pattern), reinterpret_cast<const Byte*>(path),
                reinterpret_cast<const Byte*>(last_slash), true);
}

}  // namespace reference
