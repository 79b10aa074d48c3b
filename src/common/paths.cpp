// The fixed paths. The build passes KESTRO_CONFDIR and KESTRO_USER; the
// defaults below are those of an installation.
#include "paths.h"

#include <cstdlib>
#include <cstring>

#ifndef KESTRO_CONFDIR
#define KESTRO_CONFDIR "/usr/local/etc/kestro"
#endif
#ifndef KESTRO_USER
#define KESTRO_USER "news"
#endif

const char config_directory[] = KESTRO_CONFDIR;
const char account_name[] = KESTRO_USER;

const char path_active[] = KESTRO_CONFDIR "/active";
const char path_active_new[] = KESTRO_CONFDIR "/active.n";
const char path_newsgroups[] = KESTRO_CONFDIR "/newsgroups";
const char path_newsgroups_new[] = KESTRO_CONFDIR "/newsgroups.n";
const char path_newsfeeds[] = KESTRO_CONFDIR "/newsfeeds";

static const char queue_prefix[] = KESTRO_CONFDIR "/suck/";
static const char queue_suffix[] = "/outgoing";

// Feed names may be as long as a newsfeeds line allows, so the path is sized
// to fit rather than cut to a fixed buffer.
char* make_queue_path(const char* feed_name)
{
    size_t feed_length = strlen(feed_name);
    size_t size = sizeof queue_prefix - 1 + feed_length + sizeof queue_suffix;
    char* path = static_cast<char*>(malloc(size));
    if (path == nullptr)
        return nullptr;
    char* end = path;
    memcpy(end, queue_prefix, sizeof queue_prefix - 1);
    end += sizeof queue_prefix - 1;
    memcpy(end, feed_name, feed_length);
    end += feed_length;
    memcpy(end, queue_suffix, sizeof queue_suffix);
    return path;
}
