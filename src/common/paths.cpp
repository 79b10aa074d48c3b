// The fixed paths, from KESTRO_CONFDIR and KESTRO_USER as the build sets
// them.
#include "paths.h"

#if !defined(KESTRO_CONFDIR) || !defined(KESTRO_USER)
#error "the build must define KESTRO_CONFDIR and KESTRO_USER"
#endif

const char config_directory[] = KESTRO_CONFDIR;
const char account_name[] = KESTRO_USER;

const char path_active[] = KESTRO_CONFDIR "/active";
const char path_active_new[] = KESTRO_CONFDIR "/active.n";
const char path_newsgroups[] = KESTRO_CONFDIR "/newsgroups";
const char path_newsgroups_new[] = KESTRO_CONFDIR "/newsgroups.n";
const char path_newsfeeds[] = KESTRO_CONFDIR "/newsfeeds";
