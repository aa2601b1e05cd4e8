/* Preloaded into a program under test (LD_PRELOAD), it holds every opening of a file whose path
 * contains ZQ_OPEN_GATE_PATTERN until the test lets it go: for a background job the test needs still
 * running at a given moment however fast the machine is, in a real program that has no hook for it.
 *
 * A held opening appends "<thread name> <path>\n" to the file ZQ_OPEN_GATE_HELD, then blocks in read()
 * on the FIFO ZQ_OPEN_GATE_FIFO until every writer of it has closed it. The thread waits in a system
 * call before the file is opened, holding no lock of the C library, so the rest of the process, its
 * exit included, runs on as it would beside a slow disk. With no writer (the test is gone), the read
 * ends at once and the opening goes ahead.
 *
 * No allocation and no lock on the way: the real functions are looked up before main, and the
 * variables read there too. */

#undef _FORTIFY_SOURCE
#define _GNU_SOURCE

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>

typedef int (*OpenFunction)(const char *, int, ...);
typedef int (*OpenAtFunction)(int, const char *, int, ...);
typedef FILE *(*FopenFunction)(const char *, const char *);

static OpenFunction realOpen;
static OpenFunction realOpen64;
static OpenAtFunction realOpenAt;
static OpenAtFunction realOpenAt64;
static FopenFunction realFopen;
static FopenFunction realFopen64;

static const char *pattern;
static const char *fifoPath;
static const char *heldPath;

static void *next(const char *name)
{
    return dlsym(RTLD_NEXT, name);
}

/* Also called lazily: another library's constructor may open a file before this one runs. */
static void resolve(void)
{
    if (realOpenAt)
        return;
    realOpen = (OpenFunction)next("open");
    realOpen64 = (OpenFunction)next("open64");
    realOpenAt64 = (OpenAtFunction)next("openat64");
    realFopen = (FopenFunction)next("fopen");
    realFopen64 = (FopenFunction)next("fopen64");
    pattern = getenv("ZQ_OPEN_GATE_PATTERN");
    fifoPath = getenv("ZQ_OPEN_GATE_FIFO");
    heldPath = getenv("ZQ_OPEN_GATE_HELD");
    if (pattern && !*pattern)
        pattern = NULL;
    /* The 64-bit names are aliases on 64-bit systems; a C library without them never calls them. */
    if (!realOpen64)
        realOpen64 = realOpen;
    if (!realOpenAt64)
        realOpenAt64 = (OpenAtFunction)next("openat");
    if (!realFopen64)
        realFopen64 = realFopen;
    realOpenAt = (OpenAtFunction)next("openat");
}

__attribute__((constructor)) static void openGateInit(void)
{
    resolve();
}

static void tellHeld(const char *path)
{
    char line[4096 + 32];
    char thread[16] = "";
    prctl(PR_GET_NAME, thread, 0, 0, 0);
    const int length = snprintf(line, sizeof line, "%s %s\n", thread, path);
    if (length <= 0 || (size_t)length >= sizeof line)
        return;
    const int fd = realOpenAt(AT_FDCWD, heldPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    /* One write of a whole line: lines of threads held at once never interleave. */
    while (write(fd, line, (size_t)length) < 0 && errno == EINTR) {
    }
    close(fd);
}

static void waitAtGate(const char *path)
{
    resolve();
    if (!pattern || !fifoPath || !heldPath || !path || !strstr(path, pattern))
        return;
    const int saved = errno;
    /* Opened without blocking, so a FIFO nobody writes to any more lets the opening through. */
    const int fd = realOpenAt(AT_FDCWD, fifoPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        tellHeld(path);
        if (fcntl(fd, F_SETFL, 0) == 0) {
            char byte;
            while (read(fd, &byte, 1) < 0 && errno == EINTR) {
            }
        }
        close(fd);
    }
    errno = saved;
}

static int needsMode(int flags)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

/* An open-like call whose mode argument is there only when its flags create a file: it waits at the
 * gate, then makes the real call with the same arguments. */
#define GATED_OPEN(name, real, ...)                                                                                    \
    int name(__VA_ARGS__ const char *path, int flags, ...)                                                             \
    {                                                                                                                  \
        mode_t mode = 0;                                                                                               \
        if (needsMode(flags)) {                                                                                        \
            va_list args;                                                                                              \
            va_start(args, flags);                                                                                     \
            mode = va_arg(args, mode_t);                                                                               \
            va_end(args);                                                                                              \
        }                                                                                                              \
        waitAtGate(path);                                                                                              \
        return real;                                                                                                   \
    }

GATED_OPEN(open, realOpen(path, flags, mode))
GATED_OPEN(open64, realOpen64(path, flags, mode))
GATED_OPEN(openat, realOpenAt(directory, path, flags, mode), int directory, )
GATED_OPEN(openat64, realOpenAt64(directory, path, flags, mode), int directory, )

FILE *fopen(const char *path, const char *mode)
{
    waitAtGate(path);
    return realFopen(path, mode);
}

FILE *fopen64(const char *path, const char *mode)
{
    waitAtGate(path);
    return realFopen64(path, mode);
}
