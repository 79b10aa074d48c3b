#include "pattern_index.h"

#include <cstdlib>

// Marks pattern i as a candidate for names beginning with byte b.
static void mark(PatternIndex& index, unsigned b, size_t i)
{
    index.candidates[b * index.words + i / 64] |= uint64_t{1} << (i % 64);
}

// Marks the pattern for every first byte of a name it can match. A star, a
// "?" or a set may match any first byte; an empty pattern matches only the
// empty name, which no active line has; any other byte only itself.
static void mark_pattern(PatternIndex& index, const char* pattern, size_t i)
{
    unsigned char first = static_cast<unsigned char>(pattern[0]);
    if (first == '*' || first == '?' || first == '[') {
        for (unsigned b = 0; b < 256; ++b)
            mark(index, b, i);
    } else if (first != '\0') {
        mark(index, first, i);
    }
}

bool build_pattern_index(const FeedPattern* list, PatternIndex& index)
{
    size_t count = 0;
    for (const FeedPattern* p = list; p != nullptr; p = p->next)
        ++count;
    // An empty list still gets one slot and one word: no allocation of
    // nothing, whose result malloc leaves open.
    size_t slots = count > 0 ? count : 1;
    index.words = (slots + 63) / 64;
    index.patterns = static_cast<const char**>(malloc(slots * sizeof *index.patterns));
    index.candidates = static_cast<uint64_t*>(calloc(256 * index.words, sizeof(uint64_t)));
    if (index.patterns == nullptr || index.candidates == nullptr) {
        free_pattern_index(index);
        return false;
    }
    size_t i = 0;
    for (const FeedPattern* p = list; p != nullptr; p = p->next, ++i) {
        index.patterns[i] = p->pattern;
        mark_pattern(index, p->pattern, i);
    }
    return true;
}

void free_pattern_index(PatternIndex& index)
{
    free(index.patterns);
    free(index.candidates);
    index.patterns = nullptr;
    index.candidates = nullptr;
}
