/*
 * Makes one allocation of a test build fail, for the failure-path tests,
 * which preload this library (Linux and glibc only; nothing else links
 * it). System calls are failed with strace instead; an allocation is no
 * system call.
 *
 *     KESTRO_FAIL_MALLOC=N           the Nth call of malloc, calloc or strdup
 *                                    fails
 *     KESTRO_FAIL_MALLOC_AFTER=TEXT  counting starts once a file whose
 *                                    path ends with TEXT has been opened
 *
 * The failing call returns NULL with errno ENOMEM. The allocations that do
 * not fail go to the next malloc in line, the sanitizers' in their build,
 * whose leak checker then sees what a failure path leaves behind.
 */
#define _GNU_SOURCE

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stdlib.h>
#include <string.h>

static unsigned long fail_at;   /* 0: no allocation fails */
static const char *after;       /* NULL: count from the start */
static bool counting;
static unsigned long seen;
static bool configured;

extern char **environ;

/* Reads the two variables once the C library has set up the environment. */
static void configure(void)
{
    if (configured || environ == NULL)
        return;
    configured = true;
    const char *n = getenv("KESTRO_FAIL_MALLOC");
    fail_at = n != NULL ? strtoul(n, NULL, 10) : 0;
    after = getenv("KESTRO_FAIL_MALLOC_AFTER");
    counting = after == NULL;
}

/* The programs open their files with open(): the one whose path ends with
 * the text starts the count. */
int open(const char *path, int flags, ...)
{
    static int (*real_open)(const char *, int, ...);
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    va_end(args);
    if (real_open == NULL)
        *(void **)&real_open = dlsym(RTLD_NEXT, "open");
    int fd = real_open(path, flags, mode);
    configure();
    if (fd >= 0 && !counting) {
        size_t length = strlen(path), suffix = strlen(after);
        counting = length >= suffix && strcmp(path + length - suffix, after) == 0;
    }
    return fd;
}

static void *(*real_malloc)(size_t);
static void *(*real_calloc)(size_t, size_t);
static void (*real_free)(void *);
static bool looking_up;

/* Finds the next malloc, calloc and free; false while that is under way.
 * What the lookup itself would allocate fails instead: an older C
 * library's dlsym then carries on with a static buffer. */
static bool memory_ready(void)
{
    if (real_free != NULL)
        return true;
    if (looking_up)
        return false;
    looking_up = true;
    *(void **)&real_malloc = dlsym(RTLD_NEXT, "malloc");
    *(void **)&real_calloc = dlsym(RTLD_NEXT, "calloc");
    *(void **)&real_free = dlsym(RTLD_NEXT, "free");
    looking_up = false;
    return true;
}

/* True when this allocation is to fail, with errno set. */
static bool failing_now(void)
{
    configure();
    bool fail = !memory_ready() || (counting && fail_at != 0 && ++seen == fail_at);
    if (fail)
        errno = ENOMEM;
    return fail;
}

void *malloc(size_t size)
{
    return failing_now() ? NULL : real_malloc(size);
}

/* The compiler makes calloc of a malloc that memset clears. */
void *calloc(size_t count, size_t size)
{
    return failing_now() ? NULL : real_calloc(count, size);
}

void free(void *block)
{
    if (block != NULL && memory_ready())
        real_free(block);
}

/* The C library's and the sanitizers' strdup do not allocate through
 * malloc; copying through it here makes every build count the same. */
char *strdup(const char *text)
{
    size_t size = strlen(text) + 1;
    char *copy = malloc(size);
    if (copy != NULL)
        memcpy(copy, text, size);
    return copy;
}
