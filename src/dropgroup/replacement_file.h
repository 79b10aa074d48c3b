// The replacement file of a rewritten file is also its lock: whoever
// creates it exclusively holds the lock until it is renamed over the file
// or removed. While a run holds one, an interrupting signal removes it, so
// an interrupted run leaves no stale lock behind.
#pragma once

// Makes SIGINT, SIGTERM and SIGHUP remove the replacement file this run
// holds before the process dies of them. Signals ignored at start stay so.
void install_replacement_cleanup();

// Creates the replacement file exclusively with mode 0666 (less the umask),
// waiting a second and trying again as long as it exists. Returns its
// descriptor, or -1 with errno set.
int lock_replacement(const char* path);

// Renames the replacement file over target, which releases the lock.
// Returns false with errno set, still holding it.
bool commit_replacement(const char* path, const char* target);

// Removes the replacement file, which releases the lock. Returns false with
// errno set when the removal fails.
bool discard_replacement(const char* path);

// Flushes the directory so that a rename within it survives a crash.
// Returns false with errno set.
bool sync_directory(const char* path);
