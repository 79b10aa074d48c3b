// The check of each feed's directory and queue file under suck/.
#pragma once

#include "rules.h"

// For each feed that the rules name, in the order of its first rule:
// reports a directory that is missing or in which the queue file cannot
// be created, a queue file that cannot be appended to (at the line of the
// feed's first rule), and a queue whose last line has no line feed.
// Nothing is locked, opened for writing or changed. False when the check
// could not be made (no memory), which has been reported.
bool check_feed_directories(const RuleList& rules);
