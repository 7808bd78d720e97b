/* Preloaded into graftwell-cli by the fault tests: the Nth file-system call that changes something fails with EIO
 * (GW_FAULT_MODE=fail) or ends the process on the spot, as a crash or power cut would (GW_FAULT_MODE=kill).
 * GW_FAULT_FIRED names a file created when the fault is injected. GW_COPY_RANGE=none makes copy_file_range
 * unsupported (EXDEV), =short makes it report an early end of file, as some file systems do. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/uio.h>
#include <unistd.h>

static long counter;

static int fault_now(void) {
    const char *at = getenv("GW_FAULT_AT"), *fired = getenv("GW_FAULT_FIRED"), *mode = getenv("GW_FAULT_MODE");
    if (!at || ++counter != atol(at)) return 0;
    static int (*real_open)(const char *, int, ...);
    if (!real_open) real_open = dlsym(RTLD_NEXT, "open");
    if (fired) close(real_open(fired, O_WRONLY | O_CREAT | O_TRUNC, 0644));
    if (mode && strcmp(mode, "kill") == 0) _exit(137);
    errno = EIO;
    return 1;
}

#define REAL(name) static __typeof__(name) *real; if (!real) real = dlsym(RTLD_NEXT, #name)
/* A call that, when `when` holds, fails at its turn and otherwise goes through. */
#define HOOK(type, name, params, args, when) \
    type name params { REAL(name); if ((when) && fault_now()) return -1; return real args; }
/* An open counts when it may write. */
#define OPEN(name, params, args) \
    int name params { \
        REAL(name); \
        va_list ap; va_start(ap, flags); mode_t mode = va_arg(ap, mode_t); va_end(ap); \
        if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) && fault_now()) return -1; \
        return real args; \
    }

OPEN(open, (const char *path, int flags, ...), (path, flags, mode))
OPEN(open64, (const char *path, int flags, ...), (path, flags, mode))
OPEN(openat, (int dir, const char *path, int flags, ...), (dir, path, flags, mode))
HOOK(int, mkstemp, (char *tmpl), (tmpl), 1)
HOOK(int, mkostemp, (char *tmpl, int flags), (tmpl, flags), 1)
HOOK(ssize_t, write, (int fd, const void *buf, size_t n), (fd, buf, n), fd > 2)
HOOK(ssize_t, writev, (int fd, const struct iovec *iov, int cnt), (fd, iov, cnt), fd > 2)
HOOK(ssize_t, pwrite, (int fd, const void *buf, size_t n, off_t off), (fd, buf, n, off), 1)
HOOK(ssize_t, pwrite64, (int fd, const void *buf, size_t n, off_t off), (fd, buf, n, off), 1)
HOOK(int, ftruncate, (int fd, off_t len), (fd, len), 1)
HOOK(int, fsync, (int fd), (fd), 1)
HOOK(int, fdatasync, (int fd), (fd), 1)
HOOK(int, fchmod, (int fd, mode_t m), (fd, m), 1)
HOOK(int, rename, (const char *a, const char *b), (a, b), 1)
HOOK(int, renameat, (int da, const char *a, int db, const char *b), (da, a, db, b), 1)
HOOK(int, unlink, (const char *p), (p), 1)
HOOK(int, remove, (const char *p), (p), 1)

ssize_t copy_file_range(int in, off_t *inOff, int out, off_t *outOff, size_t n, unsigned flags) {
    REAL(copy_file_range);
    const char *range = getenv("GW_COPY_RANGE");
    if (range && strcmp(range, "none") == 0) return errno = EXDEV, -1;
    if (range && strcmp(range, "short") == 0) return 0;
    return fault_now() ? -1 : real(in, inOff, out, outOff, n, flags);
}
