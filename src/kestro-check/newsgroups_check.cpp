#include "newsgroups_check.h"

#include "findings.h"
#include "newsgroups.h"
#include "paths.h"
#include "source_file.h"

void check_newsgroups()
{
    SourceFile file;
    if (!open_source(file, path_newsgroups))
        return;
    for (char* text; (text = next_line(file)) != nullptr;) {
        if (parse_newsgroups_entry(text))
            continue;
        const char* what = "no tab after the group name";
        if (text[0] == '\n')
            what = "empty line";
        else if (text[0] == '\t')
            what = "the line begins with a tab";
        report(Severity::error, path_newsgroups, file.line_number, "%s", what);
    }
    close_source(file);
}
