// The platform layer on Linux and other POSIX systems. The fault tests preload a
// shim over libc's open, write, pwrite, ftruncate, fsync, fchmod, rename, unlink,
// mkstemp and copy_file_range: the writing side must keep going through them.
#include "platform.h"
#include "system.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

extern char** environ;

namespace platform {

namespace {

[[noreturn]] void fail(const Path& path, const std::string& what, int err) {
    throw Error(false, toUtf8(path) + ": " + what + ": " + std::strerror(err));
}

// What a failed look-up at `path` means: nothing there (`missing`), or a failure.
[[noreturn]] void failLookUp(const Path& path, const char* missing, const char* what, int err) {
    if (err == ENOENT || err == ENOTDIR)
        throw Error(true, toUtf8(path) + ": " + missing);
    fail(path, what, err);
}

int fdOf(intptr_t handle) { return static_cast<int>(handle); }

Status statusOf(const struct stat& st) {
    Status s;
    s.kind = S_ISREG(st.st_mode) ? Kind::Regular : S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
    s.size = static_cast<uint64_t>(st.st_size);
    s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

// Whether the file open at `fd` is still the one named `path`: a file deleted or
// replaced since it was opened is not.
bool stillNamed(int fd, const Path& path) {
    struct stat open {}, named {};
    return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

// Reused by the allocator from one call to the next: a buffer the size of the
// file meant fresh pages, and faulting them in cost more than the copying.
constexpr size_t kCopyBuffer = size_t{64} * 1024;

} // namespace

Path fromUtf8(std::string_view text) { return Path(std::string(text)); }
std::string toUtf8(const Path& path) { return path.string(); }

std::vector<std::string> utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }
void setUpConsole() {}

Status status(const Path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        fail(path, "cannot read", errno);
    }
    return statusOf(st);
}

FileId fileId(const Path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        failLookUp(path, "file not found", "cannot read", errno);
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

std::vector<Entry> folderEntries(const Path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        failLookUp(folder, "folder not found", "cannot list the folder", errno);
    std::vector<Entry> out;
    while (const dirent* d = ::readdir(dir)) {
        const std::string_view name = d->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        const bool known = ::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
        out.push_back({Path(name), known ? statusOf(st).kind : Kind::Other}); // a link is Other
    }
    ::closedir(dir);
    return out;
}

Access writeAccess(const Path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return Access::ReadOnly;
    return ::access(path.c_str(), W_OK) == 0 ? Access::Writable : Access::Denied;
}

// ---- File ------------------------------------------------------------------

File::File(const Path& path, Mode mode) : path_(path) {
    const int flags = mode == Mode::Read        ? O_RDONLY
                      : mode == Mode::ReadWrite ? O_RDWR
                      : mode == Mode::Create    ? O_WRONLY | O_CREAT | O_TRUNC
                                                : O_WRONLY | O_CREAT | O_APPEND;
    handle_ = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (handle_ < 0) {
        if (errno == ENOENT)
            throw Error(true, toUtf8(path) + ": file not found");
        fail(path, "cannot open", errno);
    }
}

void File::closeQuietly() noexcept {
    if (handle_ >= 0)
        ::close(fdOf(handle_));
}

Status File::status() const {
    struct stat st {};
    if (::fstat(fdOf(handle_), &st) != 0)
        fail(path_, "cannot read its size", errno);
    return statusOf(st);
}

size_t File::read(std::span<uint8_t> into) {
    for (;;) {
        const ssize_t n = ::read(fdOf(handle_), into.data(), into.size());
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno != EINTR)
            fail(path_, "cannot read", errno);
    }
}

size_t File::readAt(std::span<uint8_t> into, uint64_t pos) {
    size_t done = 0;
    while (done < into.size()) {
        const ssize_t n =
            ::pread(fdOf(handle_), into.data() + done, into.size() - done, static_cast<off_t>(pos + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(path_, "cannot read", errno);
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void File::write(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fdOf(handle_), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(path_, "cannot write", errno);
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
}

void File::writeAt(std::span<const uint8_t> bytes, uint64_t pos) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fdOf(handle_), bytes.data(), bytes.size(), static_cast<off_t>(pos));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(path_, "cannot write", errno);
        bytes = bytes.subspan(static_cast<size_t>(n));
        pos += static_cast<uint64_t>(n);
    }
}

void File::truncate(uint64_t size) {
    if (::ftruncate(fdOf(handle_), static_cast<off_t>(size)) != 0)
        fail(path_, "cannot write", errno);
}

void File::sync() {
    if (::fsync(fdOf(handle_)) != 0)
        fail(path_, "cannot flush to disk", errno);
}

void File::close() {
    if (::close(fdOf(std::exchange(handle_, -1))) != 0)
        fail(path_, "cannot close", errno);
}

std::string system::leftoverPrefix(const Path& target) {
    return "." + target.filename().string() + ".graftwell-";
}

// mkstemp's six letters and digits after the prefix.
bool system::isLeftoverName(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    const auto alnum = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    };
    return std::all_of(name.begin() + static_cast<ptrdiff_t>(prefix.size()), name.end(), alnum);
}

File createBeside(const Path& target) {
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    const Path dir = system::folderOf(target);
    File out;
    for (int attempt = 0;; ++attempt) {
        std::string name = (dir / system::leftoverPrefix(target)).string() + "XXXXXX";
        out.handle_ = ::mkstemp(name.data());
        if (out.handle_ < 0)
            fail(dir, "cannot create a file in this folder", errno);
        out.path_ = name;
        // Held while open, so that removeLeftovers() passes it by. A cleaner may have
        // taken it between its making and this lock: then it is that cleaner's to
        // delete (or deleted already), and another name is taken. Where the file
        // system has no flock, no cleaner can take it either.
        const bool taken = ::flock(fdOf(out.handle_), LOCK_EX | LOCK_NB) == 0;
        if ((taken || errno != EWOULDBLOCK) && stillNamed(fdOf(out.handle_), out.path_))
            break;
        out = File();
        if (attempt == 100)
            fail(dir, "cannot create a file in this folder", EEXIST);
    }
    const std::string& name = out.path_.native();
    if (::fchmod(fdOf(out.handle_), existed ? (old.st_mode & 07777) : 0644) != 0) {
        const int err = errno;
        ::unlink(name.c_str());
        fail(out.path_, "cannot set permissions", err);
    }
    // Keep the owner when we may (root saving another user's map); not fatal otherwise.
    if (existed && ::fchown(fdOf(out.handle_), old.st_uid, old.st_gid) != 0) { /* keep ours */
    }
    return out;
}

// A file that its maker still holds is in use: only files we can lock are left over.
bool system::removeUnheld(const Path& path) noexcept {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool removed = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && stillNamed(fd, path) && ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
}

void copyInto(const Path& src, File& to) {
    File in(src, File::Mode::Read);
    // What the kernel leaves (it copies nothing between some file systems, and some
    // report an early end) is read and written here.
    for (;;) {
        const ssize_t n = ::copy_file_range(fdOf(in.handle_), nullptr, fdOf(to.handle_), nullptr, size_t{1} << 30, 0);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF)
            fail(to.path_, "cannot copy " + toUtf8(src) + " here", errno);
        break;
    }
    std::vector<uint8_t> buf(kCopyBuffer);
    while (const size_t n = in.read(buf))
        to.write(std::span(buf).first(n));
}

// ---- memory ----------------------------------------------------------------

Mapping::Mapping(const File& file, size_t size) {
    if (size == 0)
        return;
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fdOf(file.handle_), 0);
    if (p == MAP_FAILED)
        fail(file.path(), "cannot read", errno);
    data_ = static_cast<const uint8_t*>(p);
    size_ = size;
}

void Mapping::unmap() noexcept {
    if (data_)
        ::munmap(const_cast<uint8_t*>(data_), size_);
}

uint8_t* allocatePages(size_t size) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    return static_cast<uint8_t*>(p);
}

void freePages(uint8_t* pages, size_t size) { ::munmap(pages, size); }

// ---- names -------------------------------------------------------------------

void replace(const Path& from, const Path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        fail(to, "cannot replace", errno);
}

void syncFolder(const Path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    // Folders that cannot be synced at all (EINVAL) are taken as they are.
    if (rc != 0 && err != EINVAL)
        fail(folder, "the new file is in place but the folder could not be synced", err);
}

void removeQuietly(const Path& path) noexcept { ::unlink(path.c_str()); }

bool createFolder(const Path& folder) {
    if (::mkdir(folder.c_str(), 0777) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    fail(folder, "cannot create the folder", errno);
}

bool remove(const Path& path) {
    if (::unlink(path.c_str()) == 0)
        return true;
    const int err = errno;
    if (err == ENOENT)
        return false;
    if (err == EISDIR || err == EPERM) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (::rmdir(path.c_str()) == 0)
                return true;
            fail(path, "cannot delete the folder", errno);
        }
    }
    fail(path, "cannot delete", err);
}

// ---- locks -------------------------------------------------------------------

std::optional<Lock> Lock::tryTake(const Path& lockFile) {
    for (;;) {
        const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            fail(lockFile, "cannot open the lock file", errno);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK)
                return std::nullopt;
            fail(lockFile, "cannot lock", err);
        }
        // Deleted by its last holder between our open and our lock: that file locks
        // out nobody, so the one at the name now is taken instead.
        if (stillNamed(fd, lockFile)) {
            Lock lock;
            lock.handle_ = fd;
            return lock;
        }
        ::close(fd);
    }
}

void Lock::release() noexcept {
    if (handle_ != -1)
        ::close(fdOf(std::exchange(handle_, -1)));
}

// ---- places --------------------------------------------------------------------

Path programFolder() {
    std::error_code ec;
    const Path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? Path() : exe.parent_path();
}

Path userDataFolder() {
    Path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = Path(home) / ".local/share";
    else
        base = std::filesystem::temp_directory_path();
    return base / "graftwell";
}

// ---- child programs ------------------------------------------------------------

int run(const Path& program, const std::vector<std::string>& args, const Environment& env, const Path& out,
        const Path& err) {
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string_view v(*e);
        bool replaced = false;
        for (const auto& [name, value] : env)
            replaced = replaced || (v.size() > name.size() && v.substr(0, name.size()) == name && v[name.size()] == '=');
        if (!replaced)
            vars.emplace_back(v);
    }
    for (const auto& [name, value] : env)
        vars.emplace_back(name).append("=").append(value);
    std::vector<std::string> argStrings{program.string()};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> p;
        p.reserve(strings.size() + 1);
        for (auto& s : strings)
            p.push_back(s.data());
        p.push_back(nullptr);
        return p;
    };
    auto argv = pointers(argStrings), envp = pointers(vars);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        fail(program, "cannot start", rc);
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0)
        if (errno != EINTR)
            fail(program, "cannot wait for it", errno);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

} // namespace platform
