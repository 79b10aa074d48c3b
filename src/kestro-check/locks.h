// The check of the configuration directory and of the lock files that
// dropgroup creates in it.
#pragma once

// Reports a directory in which dropgroup cannot create its lock files, and
// each lock file that exists, with the time it has not changed for. The
// locks are only looked at: never taken, waited for or removed.
void check_locks();
