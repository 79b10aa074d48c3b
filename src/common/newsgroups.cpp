#include "newsgroups.h"

#include <cstring>

std::optional<NewsgroupsEntry> parse_newsgroups_entry(char* line)
{
    char* tab = strchr(line, '\t');
    if (tab == nullptr || tab == line)
        return std::nullopt;
    *tab = '\0';
    return NewsgroupsEntry{line, tab + 1};
}

bool format_newsgroups_entry(OutputBuffer& out, const NewsgroupsEntry& entry)
{
    return put_output(out, entry.name, strlen(entry.name)) && put_output(out, "\t", 1) &&
           put_output(out, entry.description, strlen(entry.description));
}
