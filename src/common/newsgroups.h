// The newsgroups file: one group per line, "name\tdescription".
#pragma once

#include <cstdio>
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

// Writes the entry as "%s\t%s"; the caller checks the stream.
void format_newsgroups_entry(FILE* out, const NewsgroupsEntry& entry);
