// The queue file of a feed: config_directory "/suck/" feed "/outgoing".
#pragma once

#include <cstddef>

// The size of the feed's queue path, its terminating NUL included. Feed
// names may be as long as a newsfeeds line allows, so the path is sized
// to fit rather than cut to a fixed buffer.
size_t queue_path_size(const char* feed_name);

// Writes the feed's queue path into path, which has room for
// queue_path_size(feed_name) bytes.
void format_queue_path(char* path, const char* feed_name);
