// The rules of newsfeeds as the check keeps them: each with its line and
// what the groups of active did with it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr size_t no_rule = static_cast<size_t>(-1);

struct CheckedRule {
    unsigned line;             // in newsfeeds
    std::string feed_name;
    std::string pattern;
    bool pattern_reported;     // a finding already explains why it matches little
    bool lists_groups;         // the name form matches a group: feedgroups lists it
    bool matches_paths;        // the path form matches a group's article paths
    size_t groups_received;    // groups whose articles feedqueue gives this rule
    size_t first_taker;        // an earlier rule that took one of its groups first
    size_t other_feed_taker;   // the first such rule of another feed
    bool several_takers;       // more than one earlier rule took its groups
};

using RuleList = std::vector<CheckedRule>;
