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

void format_newsgroups_entry(FILE* out, const NewsgroupsEntry& entry)
{
    fputs(entry.name, out);
    fputc('\t', out);
    fputs(entry.description, out);
}
