// Appending one line to a feed's queue file under an exclusive lock.
#pragma once

#include <cstddef>

// An article's line as it goes out: a line feed, the article and a line
// feed. The first line feed is written only where the queue's last line
// lacks its own, so the line takes a single write either way.
struct QueueLine {
    const char* text;
    size_t size;  // of the whole text, both line feeds included
};

// Appends the line to the queue file at path, creating it with mode 0644
// when missing. The file is only ever appended to, under an exclusive
// flock held from before the first byte until the line is whole; if the
// path names another file once the lock is ours (a consumer took the
// queue away meanwhile), the run starts again with that file. A failed
// write is taken back. Reports every failure on standard error; false
// after any.
bool append_queue_line(const char* path, const QueueLine& line);
