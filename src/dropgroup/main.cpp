#include "paths.h"
#include "replacement_file.h"
#include "rewrite.h"
#include "startup.h"

#include <cstdio>

// dropgroup: removes every line of one newsgroup from active, then from
// newsgroups. Each file is rewritten into its replacement file, whose
// exclusive creation locks the file against other writers, and the finished
// replacement is renamed over the file, so readers see the old or the new
// file whole. active is committed before newsgroups is begun.
int main(int argc, char* argv[])
{
    if (!common_startup(argv)) {
        perror(program_name());
        return 1;
    }
    if (argc != 2) {
        fprintf(stderr, "Usage: %s newsgroup\n", program_name());
        return 1;
    }
    const char* group = argv[1];
    install_replacement_cleanup();
    const FilePair active{FileKind::active, path_active, path_active_new};
    if (!rewrite_without_group(active, group))
        return 1;
    const FilePair newsgroups{FileKind::newsgroups, path_newsgroups, path_newsgroups_new};
    if (!rewrite_without_group(newsgroups, group))
        return 1;
    return 0;
}
