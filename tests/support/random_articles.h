// Article paths for the feedqueue runs of the crash and stress tests.
#pragma once

#include <random>
#include <string>
#include <vector>

// The arguments of one feedqueue run: count article paths named after the
// run, "GROUP/RUN/INDEX", whose groups are a random mix of the first two
// of groups, which two feeds take, and now and then the third, which no
// rule matches. Some paths are a few kilobytes long: their lines span
// pages of the queue file, where a write cut short or two writes mixed
// would show.
std::vector<std::string> random_articles(const std::string (&groups)[3], int run, int count,
                                         std::mt19937& random);
