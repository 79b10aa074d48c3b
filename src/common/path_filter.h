// A quick look that turns most patterns away from an article path before
// match_group_path is asked: the literal start of a pattern (the bytes
// before its first wildcard, a "." standing for "/") must stand at the
// start of the path's group part. A group part too short for it, or one
// that differs from it in its last byte or in its first eight, cannot
// match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct PathFilter {
    size_t literal_length;  // bytes before the first wildcard
    unsigned char last;     // the last of them, as the path holds it
    bool literal_only;      // no wildcard: the group part is exactly that long
    uint64_t head;          // the first eight of them, when there are eight
};

// What the pattern demands of the start of a group part.
PathFilter path_filter_for(const char* pattern);

// False when no path whose group part (the bytes before its last "/") has
// group_length bytes can match the filter's pattern; true when it may.
inline bool may_match_path(const PathFilter& filter, const char* path, size_t group_length)
{
    if (filter.literal_only ? group_length != filter.literal_length
                            : group_length < filter.literal_length)
        return false;
    if (filter.literal_length == 0)
        return true;
    if (static_cast<unsigned char>(path[filter.literal_length - 1]) != filter.last)
        return false;
    uint64_t head = 0;
    if (filter.literal_length >= sizeof head)
        memcpy(&head, path, sizeof head);
    return head == filter.head;
}
