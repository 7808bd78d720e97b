/* Preloaded into graftwell-cli by the fault tests: the Nth file-system call
 * that changes something fails with EIO (GW_FAULT_MODE=fail) or ends the
 * process on the spot, as a crash or power cut would (GW_FAULT_MODE=kill).
 * GW_FAULT_FIRED names a file created when the fault is injected.
 * GW_COPY_RANGE=none makes copy_file_range unsupported (EXDEV), =short makes it
 * report an early end of file, as some file systems do. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static long counter;

static int fault_now(void) {
    const char *at = getenv("GW_FAULT_AT");
    if (!at || ++counter != atol(at)) return 0;
    const char *fired = getenv("GW_FAULT_FIRED");
    if (fired) {
        static int (*real_open)(const char *, int, ...);
        if (!real_open) real_open = dlsym(RTLD_NEXT, "open");
        int fd = real_open(fired, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) close(fd);
    }
    const char *mode = getenv("GW_FAULT_MODE");
    if (mode && strcmp(mode, "kill") == 0) _exit(137);
    errno = EIO;
    return 1;
}

#define REAL(name) static __typeof__(name) *real; if (!real) real = dlsym(RTLD_NEXT, #name)

static int writes(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0; }

int open(const char *path, int flags, ...) {
    REAL(open);
    va_list ap; va_start(ap, flags); mode_t mode = va_arg(ap, mode_t); va_end(ap);
    if (writes(flags) && fault_now()) return -1;
    return real(path, flags, mode);
}
int open64(const char *path, int flags, ...) {
    REAL(open64);
    va_list ap; va_start(ap, flags); mode_t mode = va_arg(ap, mode_t); va_end(ap);
    if (writes(flags) && fault_now()) return -1;
    return real(path, flags, mode);
}
int openat(int dir, const char *path, int flags, ...) {
    REAL(openat);
    va_list ap; va_start(ap, flags); mode_t mode = va_arg(ap, mode_t); va_end(ap);
    if (writes(flags) && fault_now()) return -1;
    return real(dir, path, flags, mode);
}
int mkstemp(char *tmpl) { REAL(mkstemp); if (fault_now()) return -1; return real(tmpl); }
int mkostemp(char *tmpl, int flags) { REAL(mkostemp); if (fault_now()) return -1; return real(tmpl, flags); }
ssize_t write(int fd, const void *buf, size_t n) {
    REAL(write);
    if (fd > 2 && fault_now()) return -1;
    return real(fd, buf, n);
}
ssize_t pwrite(int fd, const void *buf, size_t n, off_t off) {
    REAL(pwrite); if (fault_now()) return -1; return real(fd, buf, n, off);
}
ssize_t pwrite64(int fd, const void *buf, size_t n, off_t off) {
    REAL(pwrite64); if (fault_now()) return -1; return real(fd, buf, n, off);
}
ssize_t copy_file_range(int in, off_t *inOff, int out, off_t *outOff, size_t n, unsigned flags) {
    REAL(copy_file_range);
    const char *range = getenv("GW_COPY_RANGE");
    if (range && strcmp(range, "none") == 0) { errno = EXDEV; return -1; }
    if (range && strcmp(range, "short") == 0) return 0;
    if (fault_now()) return -1;
    return real(in, inOff, out, outOff, n, flags);
}
ssize_t writev(int fd, const struct iovec *iov, int cnt) {
    REAL(writev); if (fd > 2 && fault_now()) return -1; return real(fd, iov, cnt);
}
int ftruncate(int fd, off_t len) { REAL(ftruncate); if (fault_now()) return -1; return real(fd, len); }
int fsync(int fd) { REAL(fsync); if (fault_now()) return -1; return real(fd); }
int fdatasync(int fd) { REAL(fdatasync); if (fault_now()) return -1; return real(fd); }
int fchmod(int fd, mode_t m) { REAL(fchmod); if (fault_now()) return -1; return real(fd, m); }
int rename(const char *a, const char *b) { REAL(rename); if (fault_now()) return -1; return real(a, b); }
int renameat(int da, const char *a, int db, const char *b) {
    REAL(renameat); if (fault_now()) return -1; return real(da, a, db, b);
}
int unlink(const char *p) { REAL(unlink); if (fault_now()) return -1; return real(p); }
int remove(const char *p) { REAL(remove); if (fault_now()) return -1; return real(p); }
