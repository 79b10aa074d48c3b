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
 * The failing call returns NULL with errno ENOMEM.
 */
#define _GNU_SOURCE

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
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

/* The next definition of a symbol, past this library. */
static void *next_symbol(const char *name)
{
    return dlsym(RTLD_NEXT, name);
}

/* ---- Opening, only to start the count ---- */

static void note_opened(const char *path, int fd)
{
    configure();
    if (fd < 0 || counting || after == NULL || path == NULL)
        return;
    size_t length = strlen(path), suffix = strlen(after);
    counting = length >= suffix && strcmp(path + length - suffix, after) == 0;
}

#define OPEN_LIKE(name, ...)                                              \
    int name(__VA_ARGS__, int flags, ...)                                 \
    {                                                                     \
        va_list args;                                                     \
        va_start(args, flags);                                            \
        mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0; \
        va_end(args);

OPEN_LIKE(open, const char *path)
    static int (*real)(const char *, int, ...);
    if (real == NULL)
        *(void **)&real = next_symbol("open");
    int fd = real(path, flags, mode);
    note_opened(path, fd);
    return fd;
}

OPEN_LIKE(open64, const char *path)
    static int (*real)(const char *, int, ...);
    if (real == NULL)
        *(void **)&real = next_symbol("open64");
    int fd = real(path, flags, mode);
    note_opened(path, fd);
    return fd;
}

OPEN_LIKE(openat, int dirfd, const char *path)
    static int (*real)(int, const char *, int, ...);
    if (real == NULL)
        *(void **)&real = next_symbol("openat");
    int fd = real(dirfd, path, flags, mode);
    note_opened(path, fd);
    return fd;
}

/* ---- Memory ---- */

/* Serves what looking up the real malloc may allocate; never freed. */
static _Alignas(max_align_t) char bootstrap[16384];
static size_t bootstrap_used;

static void *bootstrap_malloc(size_t size)
{
    size_t step = (size + sizeof(max_align_t) - 1) / sizeof(max_align_t) * sizeof(max_align_t);
    if (step > sizeof bootstrap - bootstrap_used)
        return NULL;
    void *block = bootstrap + bootstrap_used;
    bootstrap_used += step;
    return block;
}

static void *(*real_malloc)(size_t);
static void *(*real_calloc)(size_t, size_t);
static void (*real_free)(void *);
static bool looking_up;

/* Finds the real malloc and free; false while that is under way. */
static bool memory_ready(void)
{
    if (real_malloc != NULL && real_calloc != NULL && real_free != NULL)
        return true;
    if (looking_up)
        return false;
    looking_up = true;
    *(void **)&real_malloc = next_symbol("malloc");
    *(void **)&real_calloc = next_symbol("calloc");
    *(void **)&real_free = next_symbol("free");
    looking_up = false;
    return true;
}

/* True when this allocation is the one to fail. */
static bool failing_now(void)
{
    configure();
    if (!counting || fail_at == 0 || ++seen != fail_at)
        return false;
    errno = ENOMEM;
    return true;
}

void *malloc(size_t size)
{
    if (!memory_ready())
        return bootstrap_malloc(size);
    return failing_now() ? NULL : real_malloc(size);
}

/* The compiler makes calloc of a malloc that memset clears. The bootstrap
 * memory is zero already. */
void *calloc(size_t count, size_t size)
{
    if (!memory_ready())
        return size == 0 || count <= SIZE_MAX / size ? bootstrap_malloc(count * size) : NULL;
    return failing_now() ? NULL : real_calloc(count, size);
}

void free(void *block)
{
    const char *byte = block;
    if (block == NULL || (byte >= bootstrap && byte < bootstrap + sizeof bootstrap))
        return;
    if (memory_ready())
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
