#include "queue_path.h"

#include "paths.h"

#include <cstring>

static const char suck_directory[] = "/suck/";
static const char queue_name[] = "/outgoing";

size_t queue_path_size(const char* feed_name)
{
    return strlen(config_directory) + sizeof suck_directory - 1 + strlen(feed_name) +
           sizeof queue_name;
}

// Copies the string without its NUL to out; returns the end of the copy.
static char* append(char* out, const char* text, size_t length)
{
    memcpy(out, text, length);
    return out + length;
}

void format_queue_path(char* path, const char* feed_name)
{
    char* end = append(path, config_directory, strlen(config_directory));
    end = append(end, suck_directory, sizeof suck_directory - 1);
    end = append(end, feed_name, strlen(feed_name));
    append(end, queue_name, sizeof queue_name);
}
