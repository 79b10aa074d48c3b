/*
 * Fault injection for the tests: a library that the tests load into the
 * test builds of the programs with LD_PRELOAD. It makes a chosen call of a
 * chosen function fail with a chosen error number, so that a test can reach
 * the failure paths that ordinary files cannot provoke. Linux and glibc
 * only; nothing else links it.
 *
 * The environment variable KESTRO_FAULT holds rules separated by commas:
 *
 *     function[@suffix]:N:ERRNO[:K]
 *
 * function  open, fdopen, write, fsync, close, fclose, rename, unlink,
 *           flock, ftruncate or malloc.
 * suffix    count only the calls that concern a file whose path ends with
 *           it: the path argument (either path of rename), or for a
 *           descriptor or a stream the path it is open on. For malloc it
 *           means: count only the calls made after a file whose path ends
 *           with it has been opened.
 * N         which of the counted calls fails; 1 is the first.
 * ERRNO     the error it fails with: a name such as EIO, or a number.
 * K         write only: the failing call first writes K bytes for real, as
 *           a write does that fills the disk part way.
 *
 * Each rule counts on its own. A failing call does nothing, except that
 * close and fclose release the descriptor or stream first, as the system
 * does when a close reports an error.
 *
 * What the names cover:
 *   open    open, open64, openat, openat64, fopen and fopen64.
 *   malloc  malloc, and strdup, which allocates through it.
 *   write   write(2), and the writes of the streams this library makes.
 *           stdio writes through internal calls that cannot be interposed,
 *           so while a write rule concerns a file, fdopen gives a stream
 *           over fopencookie whose writes pass through here; standard
 *           output is replaced by such a stream at start when a rule
 *           concerns it. fileno tells the descriptor of such a stream.
 */
#define _GNU_SOURCE

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/types.h>
#include <unistd.h>

enum call {
    CALL_OPEN, CALL_FDOPEN, CALL_WRITE, CALL_FSYNC, CALL_CLOSE, CALL_FCLOSE,
    CALL_RENAME, CALL_UNLINK, CALL_FLOCK, CALL_FTRUNCATE, CALL_MALLOC, CALL_NONE
};

static const char *const call_names[] = {
    "open", "fdopen", "write", "fsync", "close", "fclose",
    "rename", "unlink", "flock", "ftruncate", "malloc"
};

struct rule {
    enum call call;
    char suffix[256];    /* empty: every call counts */
    unsigned long nth;
    int error;
    long partial;        /* bytes a failing write writes first */
    unsigned long seen;
    bool armed;          /* counting has begun (malloc waits for its file) */
};

#define MAX_RULES 16
static struct rule rules[MAX_RULES];
static int rule_count;
static bool configured;

/* Set while this library itself calls what may allocate, so that those
 * allocations are neither counted nor failed. */
static int busy;

struct error_name {
    const char *name;
    int number;
};

static const struct error_name error_names[] = {
    {"EPERM", EPERM}, {"ENOENT", ENOENT}, {"EINTR", EINTR}, {"EIO", EIO},
    {"EBADF", EBADF}, {"EAGAIN", EAGAIN}, {"ENOMEM", ENOMEM},
    {"EACCES", EACCES}, {"EBUSY", EBUSY}, {"EEXIST", EEXIST},
    {"EXDEV", EXDEV}, {"EISDIR", EISDIR}, {"EINVAL", EINVAL},
    {"ENFILE", ENFILE}, {"EMFILE", EMFILE}, {"EFBIG", EFBIG},
    {"ENOSPC", ENOSPC}, {"EROFS", EROFS}, {"ENAMETOOLONG", ENAMETOOLONG},
    {"ENOLCK", ENOLCK}, {"EDQUOT", EDQUOT},
};

/* A rule that cannot be read is a fault of the test: stop loudly. */
static void bad_rule(const char *text)
{
    fprintf(stderr, "fault_inject: cannot read rule in KESTRO_FAULT: %s\n", text);
    abort();
}

/* The call named by the text of the given length. */
static enum call call_named(const char *text, size_t length)
{
    for (int c = 0; c < CALL_NONE; ++c) {
        if (strlen(call_names[c]) == length && strncmp(call_names[c], text, length) == 0)
            return (enum call)c;
    }
    return CALL_NONE;
}

/* The error number named by the text of the given length, or 0. */
static int error_named(const char *text, size_t length)
{
    for (size_t i = 0; i < sizeof error_names / sizeof error_names[0]; ++i) {
        if (strlen(error_names[i].name) == length &&
            strncmp(error_names[i].name, text, length) == 0)
            return error_names[i].number;
    }
    char *end;
    long number = strtol(text, &end, 10);
    return end == text + length && number > 0 ? (int)number : 0;
}

/* Reads one rule of the given length into the next free slot. */
static void read_rule(const char *text, size_t length)
{
    if (rule_count == MAX_RULES)
        bad_rule(text);
    struct rule *r = &rules[rule_count++];
    const char *end = text + length;
    const char *colon = memchr(text, ':', length);
    if (colon == NULL)
        bad_rule(text);
    const char *at = memchr(text, '@', (size_t)(colon - text));
    r->call = call_named(text, (size_t)((at ? at : colon) - text));
    if (r->call == CALL_NONE)
        bad_rule(text);
    if (at != NULL) {
        size_t suffix_length = (size_t)(colon - at - 1);
        if (suffix_length >= sizeof r->suffix)
            bad_rule(text);
        memcpy(r->suffix, at + 1, suffix_length);
    }
    char *after;
    r->nth = strtoul(colon + 1, &after, 10);
    if (r->nth == 0 || after >= end || *after != ':')
        bad_rule(text);
    const char *error_text = after + 1;
    const char *next = memchr(error_text, ':', (size_t)(end - error_text));
    r->error = error_named(error_text, (size_t)((next ? next : end) - error_text));
    if (r->error == 0)
        bad_rule(text);
    r->partial = -1;
    if (next != NULL) {
        r->partial = strtol(next + 1, &after, 10);
        if (r->call != CALL_WRITE || after != end || r->partial < 0)
            bad_rule(text);
    }
    r->armed = r->call != CALL_MALLOC || r->suffix[0] == '\0';
}

extern char **environ;

/* Reads KESTRO_FAULT once; it takes no memory. Until the C library has
 * set up the environment (the dynamic linker allocates before that) there
 * is nothing to read yet, and no call fails. */
static void configure(void)
{
    if (configured || environ == NULL)
        return;
    configured = true;
    const char *text = getenv("KESTRO_FAULT");
    while (text != NULL && *text != '\0') {
        const char *comma = strchr(text, ',');
        size_t length = comma ? (size_t)(comma - text) : strlen(text);
        if (length > 0)
            read_rule(text, length);
        text = comma ? comma + 1 : NULL;
    }
}

/* Whether path ends with suffix; a missing path ends with nothing. */
static bool ends_with(const char *path, const char *suffix)
{
    if (path == NULL)
        return false;
    size_t path_length = strlen(path);
    size_t suffix_length = strlen(suffix);
    return path_length >= suffix_length &&
           strcmp(path + path_length - suffix_length, suffix) == 0;
}

/* Whether some rule for the call would look at a file of this path. */
static bool rule_concerns(enum call call, const char *path)
{
    configure();
    for (int i = 0; i < rule_count; ++i) {
        if (rules[i].call == call && (rules[i].suffix[0] == '\0' || ends_with(path, rules[i].suffix)))
            return true;
    }
    return false;
}

/* Whether some rule is about the call at all. */
static bool call_has_rule(enum call call)
{
    configure();
    for (int i = 0; i < rule_count; ++i) {
        if (rules[i].call == call)
            return true;
    }
    return false;
}

/* Counts a call concerning path (or other_path) and gives the error it
 * must fail with, or 0 to let it through. partial, when given, receives
 * the bytes a failing write writes first. */
static int fault_for(enum call call, const char *path, const char *other_path, long *partial)
{
    configure();
    int error = 0;
    for (int i = 0; i < rule_count; ++i) {
        struct rule *r = &rules[i];
        if (r->call != call || !r->armed)
            continue;
        if (call != CALL_MALLOC && r->suffix[0] != '\0' &&
            !ends_with(path, r->suffix) && !ends_with(other_path, r->suffix))
            continue;
        if (++r->seen == r->nth && error == 0) {
            error = r->error;
            if (partial != NULL)
                *partial = r->partial;
        }
    }
    return error;
}

/* After a file has been opened: malloc rules waiting for it begin to count. */
static void note_opened(const char *path)
{
    for (int i = 0; i < rule_count; ++i) {
        if (rules[i].call == CALL_MALLOC && !rules[i].armed && ends_with(path, rules[i].suffix))
            rules[i].armed = true;
    }
}

/* The path the descriptor is open on, without the " (deleted)" that Linux
 * shows for a removed file; empty when it cannot be told. */
static void descriptor_path(int fd, char *path, size_t size)
{
    char link[40] = "/proc/self/fd/";
    char digits[16];
    int count = 0;
    unsigned value = (unsigned)fd;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    size_t at = strlen(link);
    while (count > 0)
        link[at++] = digits[--count];
    link[at] = '\0';
    int saved_errno = errno;
    ssize_t length = readlink(link, path, size - 1);
    errno = saved_errno;
    path[length < 0 ? 0 : length] = '\0';
    static const char deleted[] = " (deleted)";
    if (ends_with(path, deleted))
        path[strlen(path) - (sizeof deleted - 1)] = '\0';
}

/* Counts a call on a descriptor; as fault_for. */
static int fault_for_fd(enum call call, int fd, long *partial)
{
    if (!call_has_rule(call))
        return 0;
    char path[PATH_MAX];
    descriptor_path(fd, path, sizeof path);
    return fault_for(call, path, NULL, partial);
}

/* The next definition of a symbol after this library. */
static void *next_symbol(const char *name)
{
    ++busy;
    void *symbol = dlsym(RTLD_NEXT, name);
    --busy;
    if (symbol == NULL) {
        fprintf(stderr, "fault_inject: no %s to pass calls on to\n", name);
        abort();
    }
    return symbol;
}

/* Declares and looks up, once, the real function behind an interposed one. */
#define REAL(name)                                           \
    static __typeof__(name) *real_##name;                    \
    if (real_##name == NULL) {                               \
        void *symbol_ = next_symbol(#name);                  \
        memcpy(&real_##name, &symbol_, sizeof real_##name);  \
    }

/* Ends an interposed call as a failure with the error. */
#define FAIL_WITH(error, value) \
    do {                        \
        errno = (error);        \
        return (value);         \
    } while (0)

/* ---- Opening files ---- */

/* The mode argument of open, present when a file may be created. */
#define OPEN_MODE(flags, mode)                                        \
    mode_t mode = 0;                                                  \
    if (((flags) & O_CREAT) != 0 || ((flags) & O_TMPFILE) == O_TMPFILE) { \
        va_list arguments_;                                           \
        va_start(arguments_, flags);                                  \
        mode = (mode_t)va_arg(arguments_, int);                       \
        va_end(arguments_);                                           \
    }

/* What every open does after the real call. */
static int opened(const char *path, int fd)
{
    if (fd >= 0)
        note_opened(path);
    return fd;
}

int open(const char *path, int flags, ...)
{
    REAL(open);
    OPEN_MODE(flags, mode);
    int error = fault_for(CALL_OPEN, path, NULL, NULL);
    if (error != 0)
        FAIL_WITH(error, -1);
    return opened(path, real_open(path, flags, mode));
}

int open64(const char *path, int flags, ...)
{
    REAL(open64);
    OPEN_MODE(flags, mode);
    int error = fault_for(CALL_OPEN, path, NULL, NULL);
    if (error != 0)
        FAIL_WITH(error, -1);
    return opened(path, real_open64(path, flags, mode));
}

int openat(int dirfd, const char *path, int flags, ...)
{
    REAL(openat);
    OPEN_MODE(flags, mode);
    int error = fault_for(CALL_OPEN, path, NULL, NULL);
    if (error != 0)
        FAIL_WITH(error, -1);
    return opened(path, real_openat(dirfd, path, flags, mode));
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    REAL(openat64);
    OPEN_MODE(flags, mode);
    int error = fault_for(CALL_OPEN, path, NULL, NULL);
    if (error != 0)
        FAIL_WITH(error, -1);
    return opened(path, real_openat64(dirfd, path, flags, mode));
}

FILE *fopen(const char *path, const char *mode)
{
    REAL(fopen);
    int error = fault_for(CALL_OPEN, path, NULL, NULL);
    if (error != 0)
        FAIL_WITH(error, NULL);
    FILE *stream = real_fopen(path, mode);
    if (stream != NULL)
        note_opened(path);
    return stream;
}

FILE *fopen64(const char *path, const char *mode)
{
    REAL(fopen64);
    int error = fault_for(CALL_OPEN, path, NULL, NULL);
    if (error != 0)
        FAIL_WITH(error, NULL);
    FILE *stream = real_fopen64(path, mode);
    if (stream != NULL)
        note_opened(path);
    return stream;
}

/* ---- Writing, and the streams whose writes pass through here ---- */

/* Writes all of the buffer unless a rule makes this call fail. */
static ssize_t checked_write(int fd, const void *buffer, size_t size)
{
    REAL(write);
    long partial = -1;
    int error = fault_for_fd(CALL_WRITE, fd, &partial);
    if (error != 0) {
        if (partial > 0)
            (void)real_write(fd, buffer, (size_t)partial < size ? (size_t)partial : size);
        FAIL_WITH(error, -1);
    }
    return real_write(fd, buffer, size);
}

ssize_t write(int fd, const void *buffer, size_t size)
{
    return checked_write(fd, buffer, size);
}

struct cookie_stream {
    FILE *stream;
    int fd;
};

#define MAX_STREAMS 16
static struct cookie_stream cookie_streams[MAX_STREAMS];

/* The descriptor under a stream made here, or -1. */
static int cookie_descriptor(FILE *stream)
{
    for (int i = 0; i < MAX_STREAMS; ++i) {
        if (stream != NULL && cookie_streams[i].stream == stream)
            return cookie_streams[i].fd;
    }
    return -1;
}

/* Forgets a stream made here once it is closed. */
static void forget_cookie_stream(FILE *stream)
{
    for (int i = 0; i < MAX_STREAMS; ++i) {
        if (cookie_streams[i].stream == stream)
            cookie_streams[i].stream = NULL;
    }
}

/* The stream's writes: a short write would count as an error for stdio,
 * so whatever the system takes in part is completed. */
static ssize_t cookie_write(void *cookie, const char *buffer, size_t size)
{
    int fd = (int)(intptr_t)cookie;
    size_t done = 0;
    while (done < size) {
        ssize_t n = checked_write(fd, buffer + done, size - done);
        if (n < 0)
            return done > 0 ? (ssize_t)done : -1;
        done += (size_t)n;
    }
    return (ssize_t)done;
}

static ssize_t cookie_read(void *cookie, char *buffer, size_t size)
{
    return read((int)(intptr_t)cookie, buffer, size);
}

static int cookie_seek(void *cookie, off64_t *position, int whence)
{
    off_t reached = lseek((int)(intptr_t)cookie, (off_t)*position, whence);
    if (reached < 0)
        return -1;
    *position = reached;
    return 0;
}

static int cookie_close(void *cookie)
{
    REAL(close);
    return real_close((int)(intptr_t)cookie);
}

/* A stream over the descriptor whose writes pass through checked_write,
 * or NULL with errno set. */
static FILE *make_cookie_stream(int fd, const char *mode)
{
    int slot = 0;
    while (slot < MAX_STREAMS && cookie_streams[slot].stream != NULL)
        ++slot;
    if (slot == MAX_STREAMS)
        FAIL_WITH(EMFILE, NULL);
    if (mode[0] == 'a') {
        int flags = fcntl(fd, F_GETFL);
        if (flags < 0 || fcntl(fd, F_SETFL, flags | O_APPEND) < 0)
            return NULL;
    }
    cookie_io_functions_t functions = {cookie_read, cookie_write, cookie_seek, cookie_close};
    ++busy;
    FILE *stream = fopencookie((void *)(intptr_t)fd, mode, functions);
    --busy;
    if (stream != NULL)
        cookie_streams[slot] = (struct cookie_stream){stream, fd};
    return stream;
}

/* Whether a stream of this mode writes. */
static bool writes(const char *mode)
{
    return strpbrk(mode, "wa+") != NULL;
}

FILE *fdopen(int fd, const char *mode)
{
    REAL(fdopen);
    char path[PATH_MAX];
    descriptor_path(fd, path, sizeof path);
    int error = fault_for(CALL_FDOPEN, path, NULL, NULL);
    if (error != 0)
        FAIL_WITH(error, NULL);
    if (writes(mode) && rule_concerns(CALL_WRITE, path))
        return make_cookie_stream(fd, mode);
    return real_fdopen(fd, mode);
}

int fileno(FILE *stream)
{
    REAL(fileno);
    int fd = cookie_descriptor(stream);
    return fd >= 0 ? fd : real_fileno(stream);
}

/* Standard output passes its writes through here when a rule concerns it. */
__attribute__((constructor)) static void wrap_standard_output(void)
{
    char path[PATH_MAX];
    descriptor_path(STDOUT_FILENO, path, sizeof path);
    if (!rule_concerns(CALL_WRITE, path))
        return;
    FILE *stream = make_cookie_stream(STDOUT_FILENO, "w");
    if (stream != NULL)
        stdout = stream;
}

/* ---- Closing ---- */

int close(int fd)
{
    REAL(close);
    int error = fault_for_fd(CALL_CLOSE, fd, NULL);
    int closed = real_close(fd);
    if (error != 0)
        FAIL_WITH(error, -1);
    return closed;
}

int fclose(FILE *stream)
{
    REAL(fclose);
    int error = 0;
    if (call_has_rule(CALL_FCLOSE))
        error = fault_for_fd(CALL_FCLOSE, fileno(stream), NULL);
    forget_cookie_stream(stream);
    int closed = real_fclose(stream);
    if (error != 0)
        FAIL_WITH(error, EOF);
    return closed;
}

/* ---- Calls on files that fail without doing anything ---- */

int fsync(int fd)
{
    REAL(fsync);
    int error = fault_for_fd(CALL_FSYNC, fd, NULL);
    if (error != 0)
        FAIL_WITH(error, -1);
    return real_fsync(fd);
}

int flock(int fd, int operation)
{
    REAL(flock);
    int error = fault_for_fd(CALL_FLOCK, fd, NULL);
    if (error != 0)
        FAIL_WITH(error, -1);
    return real_flock(fd, operation);
}

int ftruncate(int fd, off_t length)
{
    REAL(ftruncate);
    int error = fault_for_fd(CALL_FTRUNCATE, fd, NULL);
    if (error != 0)
        FAIL_WITH(error, -1);
    return real_ftruncate(fd, length);
}

int rename(const char *from, const char *to)
{
    REAL(rename);
    int error = fault_for(CALL_RENAME, from, to, NULL);
    if (error != 0)
        FAIL_WITH(error, -1);
    return real_rename(from, to);
}

int unlink(const char *path)
{
    REAL(unlink);
    int error = fault_for(CALL_UNLINK, path, NULL, NULL);
    if (error != 0)
        FAIL_WITH(error, -1);
    return real_unlink(path);
}

/* ---- Memory ---- */

/* Serves the allocations that looking up the real malloc may make. They
 * are never freed: free passes over them. */
static _Alignas(max_align_t) char bootstrap_memory[16384];
static size_t bootstrap_used;

static void *bootstrap_malloc(size_t size)
{
    size_t aligned = (size + sizeof(max_align_t) - 1) / sizeof(max_align_t) * sizeof(max_align_t);
    if (aligned > sizeof bootstrap_memory - bootstrap_used)
        return NULL;
    void *block = bootstrap_memory + bootstrap_used;
    bootstrap_used += aligned;
    return block;
}

static bool from_bootstrap(const void *block)
{
    const char *byte = block;
    return byte >= bootstrap_memory && byte < bootstrap_memory + sizeof bootstrap_memory;
}

static void *(*real_malloc)(size_t);
static void (*real_free)(void *);
static bool looking_up_memory;

/* Finds the real malloc and free; false while that is under way. */
static bool memory_ready(void)
{
    if (real_malloc != NULL && real_free != NULL)
        return true;
    if (looking_up_memory)
        return false;
    looking_up_memory = true;
    void *symbol = next_symbol("malloc");
    memcpy(&real_malloc, &symbol, sizeof real_malloc);
    symbol = next_symbol("free");
    memcpy(&real_free, &symbol, sizeof real_free);
    looking_up_memory = false;
    return true;
}

void *malloc(size_t size)
{
    if (!memory_ready())
        return bootstrap_malloc(size);
    if (busy == 0) {
        int error = fault_for(CALL_MALLOC, NULL, NULL, NULL);
        if (error != 0)
            FAIL_WITH(error, NULL);
    }
    return real_malloc(size);
}

void free(void *block)
{
    if (block == NULL || from_bootstrap(block) || !memory_ready())
        return;
    real_free(block);
}

/* The sanitizers copy strings without malloc; copying through it here
 * makes every build count, and fail, the same allocations. */
char *strdup(const char *text)
{
    size_t size = strlen(text) + 1;
    char *copy = malloc(size);
    if (copy != NULL)
        memcpy(copy, text, size);
    return copy;
}
