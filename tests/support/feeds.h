// Feeds in a scratch folder: their rules, their queue directories and
// files, and the lock that a consumer of a queue takes.
#pragma once

#include "scratch_dir.h"

#include <string>
#include <vector>

// The queue file of a feed, relative to the scratch folder.
std::string queue_path(const std::string& feed);

// Writes newsfeeds and makes "kestro/suck" and a directory for each feed.
void set_up_feeds(const ScratchDir& scratch, const std::string& newsfeeds,
                  const std::vector<std::string>& feeds);

// Opens the queue file and takes its flock lock, as a consumer does before
// it takes the queue away; -1 when the file cannot be opened. The
// descriptor is not inherited by the programs; closing it lets go.
int lock_queue(const std::string& path);
