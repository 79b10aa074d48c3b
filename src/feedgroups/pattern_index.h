// Which of a feed's patterns can match a group name at all, by the name's
// first byte: a pattern that begins with a literal byte matches only names
// that begin with that byte. The listing tries only those, so that most
// lines cost one look into a table instead of a try of every pattern.
#pragma once

#include "feed_rules.h"

#include <cstddef>
#include <cstdint>

struct PatternIndex {
    const char** patterns;  // in the order of the list
    size_t words;           // 64-bit words of candidates for each first byte
    uint64_t* candidates;   // [256][words]: bit i set when pattern i may match
};

// Builds the index of the list. False with errno set when there is no
// memory for it.
bool build_pattern_index(const FeedPattern* list, PatternIndex& index);

// The candidates for names whose first byte is b: index.words words.
inline const uint64_t* candidates_for(const PatternIndex& index, unsigned char b)
{
    return index.candidates + b * index.words;
}

// Frees what build_pattern_index took.
void free_pattern_index(PatternIndex& index);
