// The active file: one group per line, "name number1 number2 flag".
#pragma once

#include "output_buffer.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// A strictly parsed active line. The strings lie in the line buffer.
struct ActiveEntry {
    const char* name;
    uint32_t number1;
    uint32_t number2;
    char flag;
};

// An active line split at its first blank; rest keeps the line feed.
struct ActiveLine {
    const char* name;
    const char* rest;
};

// Parses a line (ending in its line feed) in place; nullopt when malformed.
std::optional<ActiveEntry> parse_active_entry(char* line);

// Writes the entry as "%s %u %u %c\n" to out. False once a write of out
// has failed.
bool format_active_entry(OutputBuffer& out, const ActiveEntry& entry);

// The length of the line that format_active_entry writes, line feed
// included. It can exceed the length of the line the entry was read from,
// since missing numbers are written as 0.
size_t active_entry_length(const ActiveEntry& entry);

// The length of the name of a line (length bytes, its line feed last) that
// stands already as format_active_entry would write what
// parse_active_entry reads from it: name, blank, two numbers in plain
// decimal below 2^32, blank, flag, line feed. 0 for any other line, since
// no name is empty. The line is not changed.
size_t normal_form_name_length(const char* line, size_t length);

// Splits a line in place at its first blank; nullopt when there is none or
// the line begins with it. Nothing after the blank is examined.
std::optional<ActiveLine> split_active_line(char* line);
