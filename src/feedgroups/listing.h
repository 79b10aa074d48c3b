// The listing loop of feedgroups: the active lines that a feed's patterns
// select, written to an output buffer.
#pragma once

#include "output_buffer.h"
#include "pattern_index.h"

// Reads active (the open descriptor) to its end and writes every line to
// out once for each pattern that matches its group name, in the order of
// the file and of the patterns. Reports the first long or malformed line,
// a failed write or a read error and returns false after it; lines written
// before stay written, and what out still holds is the caller's.
bool list_feed_groups(int active, const PatternIndex& patterns, OutputBuffer& out);
