// The one door to the operating system: files, folders, the program's place,
// child programs and the text form of paths. chunk/, archive/ and splice/ reach
// the system only through here; posix.cpp and win32.cpp implement it.
//
// Paths are std::filesystem::path; text is UTF-8. Every error names its file as
// UTF-8 and says what is wrong, as "<file>: <what>: <reason>". On Windows paths
// reach the system in their long form (made absolute, "\\?\" in front), so they
// may pass 260 characters and hold names ending in a space or a dot; messages
// show them as given.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

using Path = std::filesystem::path;

class Error : public std::runtime_error {
public:
    Error(bool notFound, const std::string& what) : std::runtime_error(what), notFound_(notFound) {}
    bool notFound() const { return notFound_; }

private:
    bool notFound_;
};

// ---- text ------------------------------------------------------------------

// UTF-8 text to a path and back, never through a narrow code page. On POSIX a
// path is its bytes, so names that are not UTF-8 still round-trip.
Path fromUtf8(std::string_view text);
std::string toUtf8(const Path& path);

// The command line as UTF-8, program name first. On Windows it is read afresh as
// UTF-16 and `argv` is not used.
std::vector<std::string> utf8Arguments(int argc, char** argv);
// Lets the console show the UTF-8 that the program writes, byte for byte.
void setUpConsole();

// ---- what is at a path -------------------------------------------------------

enum class Kind { Missing, Regular, Folder, Other };
struct Status {
    Kind kind = Kind::Missing;
    uint64_t size = 0;
    int64_t mtimeNs = 0; // modification time, nanoseconds since 1970
};
// Follows links. Missing is no error; anything else that stops the look-up is.
Status status(const Path& path);

// What makes two paths the same file: device and inode on POSIX, volume serial
// number and file index on Windows. Covers other spellings, letter case, 8.3
// names, symbolic links and relative paths.
struct FileId {
    uint64_t volume = 0, index = 0;
    bool operator==(const FileId&) const = default;
};
// Throws Error (notFound() true) when nothing is there.
FileId fileId(const Path& path);

// What a folder holds, "." and ".." left out, in no set order. A symbolic link
// (or junction) is Other, whatever it points to. Throws Error (notFound() true)
// when the folder is missing.
struct Entry {
    Path name;
    Kind kind = Kind::Other;
};
std::vector<Entry> folderEntries(const Path& folder);

// Whether this process may replace the file (or create files in the folder: on
// Windows found out by making one, as opening the folder for it proves nothing).
enum class Access {
    Writable,
    ReadOnly, // no write permission bit, or the read-only attribute
    Denied,   // the system refuses us for another reason
    InUse,    // another program holds it open in a way that blocks replacing it
};
Access writeAccess(const Path& path);

// ---- open files ----------------------------------------------------------

class File {
public:
    enum class Mode {
        Read,      // an existing file, read-only
        ReadWrite, // an existing file, read and written in place
        Create,    // created or emptied, write-only
        Append,    // created when missing, written at its end
    };
    File() = default;
    File(const Path& path, Mode mode);
    ~File() { closeQuietly(); }
    File(File&& other) noexcept : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, -1)) {}
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            closeQuietly();
            path_ = std::move(other.path_);
            handle_ = std::exchange(other.handle_, -1);
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    const Path& path() const { return path_; }
    Status status() const;
    // Sequential read; 0 at the end of the file.
    size_t read(std::span<uint8_t> into);
    // Reads up to into.size() bytes at `pos`; fewer only at the end of the file.
    size_t readAt(std::span<uint8_t> into, uint64_t pos);
    void write(std::span<const uint8_t> bytes);
    void writeAt(std::span<const uint8_t> bytes, uint64_t pos);
    void truncate(uint64_t size);
    // Until the bytes written are on the disk.
    void sync();
    // Reports what the system says on closing; the destructor closes silently.
    void close();

private:
    friend File createBeside(const Path& target);
    friend void copyInto(const Path& src, File& to);
    friend class Mapping;
    void closeQuietly() noexcept;
    Path path_;
    intptr_t handle_ = -1;
};

// A new file beside `target`, in its folder so that replace() can put it in
// target's place, with target's permissions (and owner, where we may) when it exists.
// Named ".NAME.graftwell-XXXXXX" on POSIX, ".NAME.graftwell-PID-N" on Windows, and
// held while it is open, so that removeLeftovers() leaves it alone.
File createBeside(const Path& target);

// Deletes the temporary files that createBeside() made beside `target` (its own
// naming pattern) and that no running process holds: leftovers of Saves killed
// before their rename. Returns how many it removed; never throws.
size_t removeLeftovers(const Path& target) noexcept;

// Appends src's bytes to `to`: in the kernel where it can, by reads and writes
// where it cannot, whole either way.
void copyInto(const Path& src, File& to);

// ---- whole files in memory -----------------------------------------------

// An open file's first `size` bytes mapped read-only; an empty file maps to nothing.
class Mapping {
public:
    Mapping() = default;
    Mapping(const File& file, size_t size);
    ~Mapping() { unmap(); }
    Mapping(Mapping&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    Mapping& operator=(Mapping&& other) noexcept {
        if (this != &other) {
            unmap();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    std::span<const uint8_t> bytes() const { return {data_, size_}; }

private:
    void unmap() noexcept;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Fresh memory for bytes about to be written in full, its pages in place where the
// system can do that in one call; throws std::bad_alloc.
uint8_t* allocatePages(size_t size);
void freePages(uint8_t* pages, size_t size);

// ---- names in folders ------------------------------------------------------

// Gives `from` the name `to`, replacing what is there, in one step: never is `to`
// missing. A file that another program holds open is refused, untouched.
void replace(const Path& from, const Path& to);
// Makes the last replace() in `folder` survive a crash, where the system needs that.
void syncFolder(const Path& folder);
// Deletes a file; quietly does nothing when that fails (it is cleaning up).
void removeQuietly(const Path& path) noexcept;

// ---- changing what is on disk ------------------------------------------------
// Every change to the file system goes through these, so that the fault tests on
// both systems see each one.

// Writes a new file beside `path` (what `write` puts in it), syncs it, gives it
// `path`'s name in one step and makes that rename durable: `path` is at every
// moment its old content or its new content, whole. On failure the new file is
// removed and `path` is as it was. A working file that a crash of the machine may
// lose (one whose loss a later step notices) is written Replaced only: whole or
// absent whatever happens to the process, without waiting for the disk.
enum class Durability : uint8_t { Synced, Replaced };
void writeReplacing(const Path& path, const std::function<void(File&)>& write,
                    Durability durability = Durability::Synced);
void writeReplacing(const Path& path, std::span<const uint8_t> bytes, Durability durability = Durability::Synced);
// A copy of `src` at `dst`, replacing what is there (not atomically: for working files).
void copyFile(const Path& src, const Path& dst);
// Creates one folder; false when something of that name is there already.
bool createFolder(const Path& folder);
// Creates a folder and the missing ones above it.
void createFolders(const Path& folder);
// Deletes a file (or an empty folder); false when nothing was there.
bool remove(const Path& path);
// Deletes a folder and everything in it (links in it are removed, not followed);
// nothing when it is missing.
void removeTree(const Path& folder);

// ---- locks ---------------------------------------------------------------------

// An exclusive lock on a lock file (created when missing), held until the Lock is
// destroyed or the process ends, whatever way it ends. flock() on POSIX (two opens
// in one process exclude each other too), LockFileEx on Windows. Lock files stay:
// Windows refuses to delete one that is open, and on POSIX a taker whose file was
// deleted under it tries again with the one now at that name.
class Lock {
public:
    Lock() = default; // holds nothing
    ~Lock() { release(); }
    Lock(Lock&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}
    Lock& operator=(Lock&& other) noexcept {
        if (this != &other) {
            release();
            handle_ = std::exchange(other.handle_, -1);
        }
        return *this;
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    // Takes the lock at once, or gives nothing when another holds it; throws Error
    // naming the file when the lock file cannot be opened or created.
    static std::optional<Lock> tryTake(const Path& lockFile);
    bool held() const { return handle_ != -1; }

private:
    void release() noexcept;
    intptr_t handle_ = -1;
};

// ---- the program's places ------------------------------------------------

// The folder of the running executable; empty when the system will not say.
Path programFolder();
// This user's data folder for the program: $XDG_DATA_HOME/graftwell (or
// ~/.local/share/graftwell) on POSIX, %LOCALAPPDATA%\Graftwell on Windows.
Path userDataFolder();

// ---- child programs ---------------------------------------------------------

using Environment = std::vector<std::pair<std::string, std::string>>;
// Runs `program` with `args` to its end, `env` added to this process's environment
// and its output and errors written to the two files. Returns its exit status, or
// -1 when it did not end by exiting.
int run(const Path& program, const std::vector<std::string>& args, const Environment& env, const Path& out,
        const Path& err);

} // namespace platform
