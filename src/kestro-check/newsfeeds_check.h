// The check of newsfeeds, line by line.
#pragma once

#include "rules.h"

// Reads newsfeeds as the loaders do, reporting every line they refuse
// (and going on after a malformed one), a file without rules, and rules
// whose feed name or pattern holds a mistake that no loader sees. Returns
// the rules read; whole tells whether the file was read to its end.
RuleList check_newsfeeds(bool& whole);
