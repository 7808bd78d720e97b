#include "fileops.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fileops {

namespace {

[[noreturn]] void fail(const std::filesystem::path& path, const std::string& what, int err) {
    throw std::runtime_error(path.string() + ": " + what + ": " + std::strerror(err));
}

// Closes on every path out, so an error never leaks a descriptor.
class Fd {
public:
    Fd(const std::filesystem::path& path, int flags, mode_t mode = 0666) : path_(path) {
        fd_ = ::open(path.c_str(), flags | O_CLOEXEC, mode);
        if (fd_ < 0) fail(path, errno == ENOENT ? "file not found" : "cannot open", errno);
    }
    ~Fd() { if (fd_ >= 0) ::close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void close() {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) fail(path_, "cannot close", errno);
    }

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

void writeAll(int fd, const std::filesystem::path& path, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(path, "cannot write", errno);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Reused by the allocator from one call to the next: a buffer the size of the
// file meant fresh pages, and faulting them in cost more than the reading.
constexpr size_t kBufferSize = size_t{64} * 1024;

// Streams src into the open descriptor dst, in the kernel where it can. What the
// kernel leaves (it copies nothing between some file systems, and some report an
// early end) is read and written here, so the copy is whole either way.
void pump(const std::filesystem::path& src, int dst, const std::filesystem::path& dstPath) {
    Fd in(src, O_RDONLY);
    for (;;) {
        const ssize_t n = ::copy_file_range(in.get(), nullptr, dst, nullptr, size_t{1} << 30, 0);
        if (n > 0 || (n < 0 && errno == EINTR)) continue;
        if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF)
            fail(dstPath, "cannot copy " + src.string() + " here", errno);
        break;
    }
    std::vector<uint8_t> buf(kBufferSize);
    for (;;) {
        const ssize_t n = ::read(in.get(), buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(src, "cannot read", errno);
        }
        if (n == 0) break;
        writeAll(dst, dstPath, buf.data(), static_cast<size_t>(n));
    }
}

} // namespace

void copyFile(const std::filesystem::path& src, const std::filesystem::path& dst) {
    struct stat st {};
    if (::stat(src.c_str(), &st) != 0) fail(src, errno == ENOENT ? "file not found" : "cannot read", errno);
    if (!S_ISREG(st.st_mode)) throw std::runtime_error(src.string() + ": not an ordinary file");
    Fd out(dst, O_WRONLY | O_CREAT | O_TRUNC);
    pump(src, out.get(), dst);
    out.close();
}

void writeFile(const std::filesystem::path& path, std::span<const uint8_t> bytes, bool append) {
    Fd out(path, O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC));
    writeAll(out.get(), path, bytes.data(), bytes.size());
    out.close();
}

void replaceAtomically(const std::filesystem::path& src, const std::filesystem::path& target) {
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    const auto dir = target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    std::string tmpl = (dir / ("." + target.filename().string() + ".graftwell-XXXXXX")).string();
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) fail(dir, "cannot create a file in the map's folder", errno);
    const std::filesystem::path tmp = tmpl;
    try {
        {
            struct Closer { int fd; ~Closer() { if (fd >= 0) ::close(fd); } } closer{fd};
            pump(src, fd, tmp);
            const mode_t mode = existed ? (old.st_mode & 07777) : 0644;
            if (::fchmod(fd, mode) != 0) fail(tmp, "cannot set permissions", errno);
            // Keep the owner when we may (root saving another user's map); not fatal otherwise.
            if (existed && ::fchown(fd, old.st_uid, old.st_gid) != 0) { /* keep ours */ }
            if (::fsync(fd) != 0) fail(tmp, "cannot sync", errno);
            closer.fd = -1;
            if (::close(fd) != 0) fail(tmp, "cannot close", errno);
        }
        if (::rename(tmp.c_str(), target.c_str()) != 0) fail(target, "cannot replace", errno);
    } catch (...) {
        ::unlink(tmp.c_str());
        throw;
    }
    // The rename itself must reach the disk for the new map to survive a crash.
    // Folders that cannot be synced at all (EINVAL) are taken as they are; any other
    // failure means the replacement may not survive a crash, and the user must know.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        const int rc = ::fsync(dfd);
        const int err = errno;
        ::close(dfd);
        if (rc != 0 && err != EINVAL)
            fail(dir, "the new map is in place but its folder could not be synced", err);
    }
}

uint64_t hashFile(const std::filesystem::path& path) {
    Fd in(path, O_RDONLY);
    std::vector<uint8_t> buf(kBufferSize); // a multiple of 8: words start at multiples of 8 in the file
    uint64_t h = 1469598103934665603ull;
    for (;;) {
        // Fill the buffer whole, so the words hashed do not depend on how reads split.
        size_t got = 0;
        while (got < buf.size()) {
            const ssize_t n = ::read(in.get(), buf.data() + got, buf.size() - got);
            if (n < 0) {
                if (errno == EINTR) continue;
                fail(path, "cannot read", errno);
            }
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        // FNV-1a over 64-bit words: a change detector, eight times faster than bytewise.
        size_t i = 0;
        for (; i + 8 <= got; i += 8) {
            uint64_t w;
            std::memcpy(&w, buf.data() + i, 8);
            h = (h ^ w) * 1099511628211ull;
        }
        for (; i < got; ++i) h = (h ^ buf[i]) * 1099511628211ull;
        if (got < buf.size()) break;
    }
    return h;
}

Stamp stampOf(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail(path, errno == ENOENT ? "file not found" : "cannot read", errno);
    Stamp s;
    s.size = static_cast<uintmax_t>(st.st_size);
    s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.hash = hashFile(path);
    return s;
}

} // namespace fileops
