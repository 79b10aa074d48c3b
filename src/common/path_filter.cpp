#include "path_filter.h"

// The byte that a path holds where the pattern has the literal byte b.
static char as_in_path(char b)
{
    return b == '.' ? '/' : b;
}

PathFilter path_filter_for(const char* pattern)
{
    size_t length = strcspn(pattern, "*?[");
    PathFilter filter{length, '\0', pattern[length] == '\0', 0};
    if (length > 0)
        filter.last = static_cast<unsigned char>(as_in_path(pattern[length - 1]));
    if (length >= sizeof filter.head) {
        char head[sizeof filter.head] = {};
        for (size_t i = 0; i < sizeof head; ++i)
            head[i] = as_in_path(pattern[i]);
        memcpy(&filter.head, head, sizeof head);
    }
    return filter;
}
