// The check of active, line by line.
#pragma once

#include "rules.h"

#include <cstddef>

struct ActiveTotals {
    bool whole;       // active was read to its end
    size_t groups;    // distinct groups read
    size_t unrouted;  // of them, those that no rule takes
};

// Reads active once, reporting every line that feedgroups or dropgroup
// refuses, a line that dropgroup would write back too long, and a group
// that stands on more than one line. Each group is tried on the rules on
// its first line.
ActiveTotals check_active(RuleList& rules);
