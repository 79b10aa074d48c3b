// Unnamed temporary files, for programs' output and for readers in tests.
#pragma once

#include <string>

// An unnamed file holding the bytes, open for reading and writing at its
// start and not inherited across exec; -1 (and a test failure) when it
// cannot be made.
int file_holding(const std::string& contents);

// Everything the open file holds, read from its start.
std::string file_contents(int fd);
