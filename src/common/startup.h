// What every program does before anything else.
#pragma once

// Switches to the configured account where the process may, sets the file
// creation mask to 022, ignores SIGXFSZ and keeps argv[0] as the program
// name. Returns false with errno set when a process running as root found
// the account but could not become it: it must not go on as root.
bool common_startup(const char* const argv[]);

// The first element of the argument vector exactly as it was passed.
const char* program_name();
