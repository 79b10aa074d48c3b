// The newsgroups file: one group per line, "name\tdescription".
#pragma once

#include "output_buffer.h"

#include <optional>

// A parsed newsgroups line. The strings lie in the line buffer; the
// description keeps the line feed.
struct NewsgroupsEntry {
    const char* name;
    const char* description;
};

// Splits a line in place at its first tab; nullopt when there is none or
// the line begins with it.
std::optional<NewsgroupsEntry> parse_newsgroups_entry(char* line);

// Writes the entry as "%s\t%s" to out. False once a write of out has
// failed.
bool format_newsgroups_entry(OutputBuffer& out, const NewsgroupsEntry& entry);
