// What every program does before anything else.
#pragma once

// Switches to the configured account where the process may, sets the file
// creation mask to 022 and keeps argv[0] as the program name.
void common_startup(const char* const argv[]);

// The first element of the argument vector exactly as it was passed.
const char* program_name();
