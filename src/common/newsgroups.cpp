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
    size_t name_length = strlen(entry.name);
    size_t description_length = strlen(entry.description);
    size_t size = name_length + 1 + description_length;
    if (size > output_reserve_max) {
        return put_output(out, entry.name, name_length) && put_output(out, "\t", 1) &&
               put_output(out, entry.description, description_length);
    }
    char* p = reserve_output(out, size);
    if (p == nullptr)
        return false;
    memcpy(p, entry.name, name_length);
    p[name_length] = '\t';
    memcpy(p + name_length + 1, entry.description, description_length);
    commit_output(out, size);
    return true;
}
