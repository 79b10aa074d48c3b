// The findings of the check, one line each on standard output, in the form
// compilers use: "PATH:LINE: error: TEXT", or "PATH: error: TEXT" where no
// line applies.
#pragma once

#include <string>

enum class Severity {
    error,    // one of the programs fails or loses an article
    warning,  // one of the programs silently does less than meant
    note,     // information asked for; not a finding
};

// Writes one line; a line number of 0 leaves the number out. Errors and
// warnings are counted.
void report(Severity severity, const char* path, unsigned line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// The number of errors and warnings written so far.
unsigned findings_reported();

// The text with each control byte written as an escape (\t, \r or \ooo),
// so that a name or pattern in a finding stays visible and on one line.
std::string shown(const char* text);
