// The listing loop of feedgroups: the active lines that a feed's patterns
// select, written to standard output.
#pragma once

#include "feed_rules.h"

#include <cstdio>

// Reads active to its end and writes every line once for each pattern that
// matches its group name, in the order of the file and of the patterns.
// Reports the first long or malformed line, a failed write or a read error
// and returns false after it; lines already written stay written.
bool list_feed_groups(FILE* active, const FeedPattern* patterns);
