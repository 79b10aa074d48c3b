// What the groups of active do with the rules of newsfeeds: feedqueue
// gives an article to the first rule whose pattern matches its path, in
// which the group's dots are slashes (match_group_path); feedgroups lists
// a group for every rule of the feed whose pattern matches its name
// (match_group_name).
#pragma once

#include "rules.h"

// Tries the rules on one group: in file order on its article path, as
// feedqueue does, the first match taking the group; and on its name, as
// feedgroups does. True when a rule takes the group.
bool route_group(RuleList& rules, const char* name);

// Reports each rule that no group of active reaches: a pattern that
// matches none, a rule whose groups all go to earlier rules (naming one),
// and a pattern that matches names but no article path.
void report_routing(const RuleList& rules);

// Writes, as notes, the number of groups that each rule receives and the
// number that go to no feed.
void report_routing_summary(const RuleList& rules, size_t groups, size_t unrouted);
