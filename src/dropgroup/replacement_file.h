// The replacement file of a rewritten file is also its lock: whoever
// creates it exclusively holds the lock until it is renamed over the file
// or removed. A run renames or removes only the file it created itself:
// if the path names another file by then (someone took the lock away by
// hand and another run took it), the run leaves it alone. While a run
// holds a replacement file, a signal that would end the process removes
// it first, so an interrupted run leaves no stale lock behind.
#pragma once

// Makes every catchable signal whose default action ends the process
// remove the replacement file this run holds before the process dies of
// it. Signals that were ignored (or caught) at start are left as they are.
void install_replacement_cleanup();

// Creates the replacement file exclusively with mode 0666 (less the umask),
// waiting a second and trying again as long as it exists. Returns its
// descriptor, or -1 with errno set.
int lock_replacement(const char* path);

enum class Commit { renamed, not_ours, failed };

// Renames the replacement file over target, which releases the lock.
// not_ours: path no longer names the file this run created (errno set);
// nothing was renamed and the lock is no longer this run's. failed: the
// rename failed (errno set), and the lock is still held.
Commit commit_replacement(const char* path, const char* target);

// Removes the replacement file, which releases the lock. Returns false
// with errno set when the removal fails or when path no longer names the
// file this run created, which is then left alone.
bool discard_replacement(const char* path);

// Flushes the directory so that a rename within it survives a crash.
// Returns false with errno set.
bool sync_directory(const char* path);
