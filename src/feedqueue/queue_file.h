// Appending one line to a feed's queue file under an exclusive lock.
#pragma once

// Appends line and a line feed to the queue file at path, creating it with
// mode 0644 when missing. The line is written while the process holds an
// exclusive flock on the file, so lines of concurrent runs never mix; a
// failed write is cut back off so that no partial line stays behind, and a
// piece of a line that a killed run left at the end is cut off first.
// Reports every failure on standard error; false after any.
bool append_queue_line(const char* path, const char* line);
