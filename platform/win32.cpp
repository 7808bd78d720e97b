// The platform layer on Windows: W functions and UTF-16 paths throughout, so no
// name goes through the ANSI code page.
//
// Built with GRAFTWELL_WRITE_FAULTS (the fault tests' copy of graftwell-cli only),
// the Nth call that changes a file, counted from the start, fails
// (GW_FAULT_MODE=fail) or ends the process on the spot (GW_FAULT_MODE=kill), as
// the Linux tests' preloaded shim does; GW_FAULT_AT gives N and GW_FAULT_FIRED a
// file to create when it happens.
#include "platform.h"
#include "system.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

namespace platform {

namespace {

std::wstring wide(std::string_view text) {
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view text) {
    if (text.empty())
        return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

bool isNotFound(DWORD err) { return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND; }
bool isInUse(DWORD err) { return err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION; }

std::string reason(DWORD err) {
    if (isInUse(err))
        return "the file is open in another program";
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n ? narrow({text, n}) : "error " + std::to_string(err);
    LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.' || out.back() == ' '))
        out.pop_back();
    return out;
}

[[noreturn]] void fail(const Path& path, const std::string& what, DWORD err = GetLastError()) {
    throw Error(false, toUtf8(path) + ": " + what + ": " + reason(err));
}

HANDLE handleOf(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
intptr_t handleValue(HANDLE h) { return reinterpret_cast<intptr_t>(h); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr size_t kCopyBuffer = size_t{64} * 1024;
constexpr DWORD kMaxIo = DWORD{1} << 30;

int64_t nanoseconds(FILETIME t) {
    // FILETIME counts 100 ns ticks from 1601; 11644473600 s lie between 1601 and 1970.
    const int64_t ticks = static_cast<int64_t>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
    return (ticks - 116444736000000000) * 100;
}

Status statusOf(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, FILETIME written) {
    Status s;
    s.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder
             : (attributes & FILE_ATTRIBUTE_DEVICE)  ? Kind::Other
                                                      : Kind::Regular;
    s.size = (uint64_t{sizeHigh} << 32) | sizeLow;
    s.mtimeNs = nanoseconds(written);
    return s;
}

// A path as the W calls take it at any length: absolute, "\\?\" (or "\\?\UNC\")
// in front. With that prefix the system leaves the name alone, so "." and ".." are
// resolved here, and a name ending in a space or a dot stays as it is (without
// it, Windows strips those and reaches another file or none).
std::wstring sysPath(const Path& path) {
    const std::wstring& given = path.native();
    if (given.empty() || given.starts_with(L"\\\\?\\") || given.starts_with(L"\\\\.\\"))
        return given;
    Path full = path;
    if (!path.has_root_directory() || !path.has_root_name()) {
        // Relative to the current folder, to its drive's root ("\x") or to the
        // current folder of the named drive ("D:x").
        const std::wstring base = path.root_name().native() + L".";
        std::wstring buf(MAX_PATH, L'\0');
        for (DWORD n; (n = GetFullPathNameW(base.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr)) >
                      buf.size();)
            buf.resize(n);
        const Path current(buf.c_str());
        full = (path.has_root_directory() ? current.root_name() / path.root_directory() : current) /
               path.relative_path();
    }
    std::wstring out = full.lexically_normal().native();
    while (out.size() > 3 && out.back() == L'\\')
        out.pop_back();
    return out.starts_with(L"\\\\") ? L"\\\\?\\UNC" + out.substr(1) : L"\\\\?\\" + out;
}

#ifdef GRAFTWELL_WRITE_FAULTS
std::wstring variable(const wchar_t* name) {
    wchar_t buf[1024];
    const DWORD n = GetEnvironmentVariableW(name, buf, 1024);
    return n > 0 && n < 1024 ? std::wstring(buf, n) : std::wstring();
}

bool faultNow() {
    static long counter = 0;
    static const long at = _wtol(variable(L"GW_FAULT_AT").c_str());
    if (at <= 0 || ++counter != at)
        return false;
    if (const std::wstring fired = variable(L"GW_FAULT_FIRED"); !fired.empty())
        CloseHandle(CreateFileW(fired.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (variable(L"GW_FAULT_MODE") == L"kill")
        TerminateProcess(GetCurrentProcess(), 137);
    SetLastError(ERROR_WRITE_FAULT);
    return true;
}
#else
constexpr bool faultNow() { return false; }
#endif

} // namespace

Path fromUtf8(std::string_view text) { return Path(wide(text)); }
std::string toUtf8(const Path& path) { return narrow(path.native()); }

std::vector<std::string> utf8Arguments(int, char**) {
    int n = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &n);
    std::vector<std::string> out;
    for (int i = 0; args && i < n; ++i)
        out.push_back(narrow(args[i]));
    LocalFree(args);
    return out;
}

void setUpConsole() {
    SetConsoleOutputCP(CP_UTF8);
    // Lines end in "\n" as on every other system: text mode would add "\r".
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

Status status(const Path& path) {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    if (!GetFileAttributesExW(sysPath(path).c_str(), GetFileExInfoStandard, &d)) {
        const DWORD err = GetLastError();
        if (isNotFound(err))
            return {};
        fail(path, "cannot read", err);
    }
    return statusOf(d.dwFileAttributes, d.nFileSizeHigh, d.nFileSizeLow, d.ftLastWriteTime);
}

FileId fileId(const Path& path) {
    // Attributes only, which no sharing mode bars: a file that another program holds has its identity too.
    const HANDLE h = CreateFileW(sysPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (isNotFound(err))
            throw Error(true, toUtf8(path) + ": file not found");
        fail(path, "cannot read", err);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_ID_INFO id{};
    const bool known = GetFileInformationByHandle(h, &info);
    const DWORD err = GetLastError();
    // ReFS numbers files in 128 bits; the upper half is folded in where it is used.
    const bool wide = GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id);
    CloseHandle(h);
    if (!known)
        fail(path, "cannot read", err);
    uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, upper = 0;
    if (wide)
        std::memcpy(&upper, id.FileId.Identifier + 8, 8);
    if (upper != 0) { // mixed first, so that no two ids differing in both halves meet by a plain xor
        const uint64_t m = upper * 0x9E3779B97F4A7C15;
        index ^= m ^ (m >> 29);
    }
    return {info.dwVolumeSerialNumber, index};
}

std::vector<Entry> folderEntries(const Path& folder) {
    WIN32_FIND_DATAW d{};
    const HANDLE find = FindFirstFileExW(sysPath(folder / L"*").c_str(), FindExInfoBasic, &d, FindExSearchNameMatch,
                                         nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (isNotFound(err) || err == ERROR_DIRECTORY)
            throw Error(true, toUtf8(folder) + ": folder not found");
        fail(folder, "cannot list the folder", err);
    }
    std::vector<Entry> out;
    do {
        const std::wstring_view name = d.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const DWORD a = d.dwFileAttributes;
        out.push_back({Path(name), (a & FILE_ATTRIBUTE_REPARSE_POINT) ? Kind::Other
                                   : (a & FILE_ATTRIBUTE_DIRECTORY)   ? Kind::Folder
                                                                      : Kind::Regular});
    } while (FindNextFileW(find, &d));
    FindClose(find);
    return out;
}

Access writeAccess(const Path& path) {
    const DWORD attributes = GetFileAttributesW(sysPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Access::Denied;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // The read-only attribute bans nothing on a folder, and opening it for adding
        // files proves nothing (Wine grants that where no file can be made): a file is
        // made there, and goes when closed, even when this process is killed.
        static std::atomic<unsigned> probes{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            const Path probe = path / (L".graftwell-probe-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                       std::to_wstring(probes++));
            const HANDLE h = CreateFileW(sysPath(probe).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                CloseHandle(h);
                return Access::Writable;
            }
            if (const DWORD err = GetLastError(); err != ERROR_FILE_EXISTS)
                return err == ERROR_WRITE_PROTECT ? Access::ReadOnly : Access::Denied;
        }
        return Access::Denied;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return Access::ReadOnly;
    // Replacing a file needs the right to delete it; a program that opened it without
    // sharing that blocks it until it closes the file.
    const HANDLE h = CreateFileW(sysPath(path).c_str(), GENERIC_WRITE | DELETE, kShareAll, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return isInUse(GetLastError()) ? Access::InUse : Access::Denied;
    CloseHandle(h);
    return Access::Writable;
}

// ---- File ------------------------------------------------------------------

File::File(const Path& path, Mode mode) : path_(path) {
    const DWORD access = mode == Mode::Read        ? GENERIC_READ
                         : mode == Mode::ReadWrite ? GENERIC_READ | GENERIC_WRITE
                         : mode == Mode::Create    ? GENERIC_WRITE
                                                   : FILE_APPEND_DATA | SYNCHRONIZE;
    const DWORD disposition = mode == Mode::Create ? CREATE_ALWAYS : mode == Mode::Append ? OPEN_ALWAYS : OPEN_EXISTING;
    if (mode != Mode::Read && faultNow())
        fail(path, "cannot open");
    // Backup semantics let a folder open for reading, so that status() can say what it is.
    const HANDLE h = CreateFileW(sysPath(path).c_str(), access, kShareAll, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL | (mode == Mode::Read ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        // A missing folder on the way to a new file is no missing file.
        if (isNotFound(err) && mode != Mode::Create && mode != Mode::Append)
            throw Error(true, toUtf8(path) + ": file not found");
        fail(path, "cannot open", err);
    }
    handle_ = handleValue(h);
}

void File::closeQuietly() noexcept {
    if (handle_ != -1)
        CloseHandle(handleOf(handle_));
}

Status File::status() const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handleOf(handle_), &info))
        fail(path_, "cannot read its size");
    return statusOf(info.dwFileAttributes, info.nFileSizeHigh, info.nFileSizeLow, info.ftLastWriteTime);
}

size_t File::read(std::span<uint8_t> into) {
    DWORD got = 0;
    if (!ReadFile(handleOf(handle_), into.data(), static_cast<DWORD>(std::min<size_t>(into.size(), kMaxIo)), &got,
                  nullptr))
        fail(path_, "cannot read");
    return got;
}

size_t File::readAt(std::span<uint8_t> into, uint64_t pos) {
    size_t done = 0;
    while (done < into.size()) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(pos + done);
        at.OffsetHigh = static_cast<DWORD>((pos + done) >> 32);
        DWORD got = 0;
        if (!ReadFile(handleOf(handle_), into.data() + done,
                      static_cast<DWORD>(std::min<size_t>(into.size() - done, kMaxIo)), &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            fail(path_, "cannot read");
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

void File::write(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        DWORD put = 0;
        if (faultNow() || !WriteFile(handleOf(handle_), bytes.data(),
                                     static_cast<DWORD>(std::min<size_t>(bytes.size(), kMaxIo)), &put, nullptr) ||
            put == 0)
            fail(path_, "cannot write");
        bytes = bytes.subspan(put);
    }
}

void File::writeAt(std::span<const uint8_t> bytes, uint64_t pos) {
    while (!bytes.empty()) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(pos);
        at.OffsetHigh = static_cast<DWORD>(pos >> 32);
        DWORD put = 0;
        if (faultNow() || !WriteFile(handleOf(handle_), bytes.data(),
                                     static_cast<DWORD>(std::min<size_t>(bytes.size(), kMaxIo)), &put, &at) ||
            put == 0)
            fail(path_, "cannot write");
        bytes = bytes.subspan(put);
        pos += put;
    }
}

void File::truncate(uint64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (faultNow() || !SetFileInformationByHandle(handleOf(handle_), FileEndOfFileInfo, &end, sizeof end))
        fail(path_, "cannot write");
}

void File::sync() {
    if (faultNow() || !FlushFileBuffers(handleOf(handle_)))
        fail(path_, "cannot flush to disk");
}

void File::close() {
    if (!CloseHandle(handleOf(std::exchange(handle_, -1))))
        fail(path_, "cannot close");
}

// The target's name as the folder holds it (the long name in its own letter case,
// whatever spelling was given), so that createBeside() and removeLeftovers() agree.
std::wstring system::leftoverPrefix(const Path& target) {
    WIN32_FIND_DATAW d{};
    const HANDLE find =
        FindFirstFileExW(sysPath(target).c_str(), FindExInfoBasic, &d, FindExSearchNameMatch, nullptr, 0);
    std::wstring name = target.filename().native();
    if (find != INVALID_HANDLE_VALUE) {
        name = d.cFileName;
        FindClose(find);
    }
    return L"." + name + L".graftwell-";
}

// Process id and attempt number, both in digits, after the prefix (in any letter case).
bool system::isLeftoverName(const std::wstring& name, const std::wstring& prefix) {
    if (name.size() <= prefix.size() ||
        CompareStringOrdinal(name.data(), static_cast<int>(prefix.size()), prefix.data(),
                             static_cast<int>(prefix.size()), TRUE) != CSTR_EQUAL)
        return false;
    const std::wstring_view rest = std::wstring_view(name).substr(prefix.size());
    const size_t dash = rest.find(L'-');
    const auto digits = [](std::wstring_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    };
    return dash != std::wstring_view::npos && digits(rest.substr(0, dash)) && digits(rest.substr(dash + 1));
}

File createBeside(const Path& target) {
    const Path dir = system::folderOf(target);
    const std::wstring prefix = system::leftoverPrefix(target);
    // Access rights come from the folder, as they do for any new file there. The
    // handle, open as long as the File is, is what removeLeftovers() sees held.
    for (unsigned attempt = 0;; ++attempt) {
        const Path name =
            dir / (prefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt));
        if (faultNow())
            fail(dir, "cannot create a file in this folder");
        const HANDLE h = CreateFileW(sysPath(name).c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            File out;
            out.path_ = name;
            out.handle_ = handleValue(h);
            return out;
        }
        if (GetLastError() != ERROR_FILE_EXISTS || attempt > 1000)
            fail(dir, "cannot create a file in this folder");
    }
}

// Opened sharing nothing, which fails while any process has it open, and deleted
// as this handle closes: no one can open it in between.
bool system::removeUnheld(const Path& path) noexcept {
    if (faultNow())
        return false;
    const HANDLE h = CreateFileW(sysPath(path).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return h != INVALID_HANDLE_VALUE && CloseHandle(h);
}

// CopyFileW would be the kernel copy, but it needs a path to write to and carries
// the read-only attribute over, which a working copy must not have.
void copyInto(const Path& src, File& to) {
    File in(src, File::Mode::Read);
    std::vector<uint8_t> buf(kCopyBuffer);
    while (const size_t n = in.read(buf))
        to.write(std::span(buf).first(n));
}

// ---- memory ----------------------------------------------------------------

Mapping::Mapping(const File& file, size_t size) {
    if (size == 0)
        return;
    const HANDLE section = CreateFileMappingW(handleOf(file.handle_), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!section)
        fail(file.path(), "cannot read");
    // The view keeps the section alive.
    const void* p = MapViewOfFile(section, FILE_MAP_READ, 0, 0, size);
    const DWORD err = GetLastError();
    CloseHandle(section);
    if (!p)
        fail(file.path(), "cannot read", err);
    data_ = static_cast<const uint8_t*>(p);
    size_ = size;
}

void Mapping::unmap() noexcept {
    if (data_)
        UnmapViewOfFile(data_);
}

// Windows has no call that puts in a whole range of fresh pages; they come in on
// first write.
uint8_t* allocatePages(size_t size) {
    void* p = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!p)
        throw std::bad_alloc();
    return static_cast<uint8_t*>(p);
}

void freePages(uint8_t* pages, size_t) { VirtualFree(pages, 0, MEM_RELEASE); }

// ---- names -------------------------------------------------------------------

void replace(const Path& from, const Path& to) {
    if (faultNow() ||
        !MoveFileExW(sysPath(from).c_str(), sysPath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD err = GetLastError();
        // A folder in the way shows as access denied too: it is named as POSIX names it.
        if (err == ERROR_ACCESS_DENIED && platform::status(to).kind == Kind::Folder)
            throw Error(false, toUtf8(to) + ": cannot replace: Is a directory");
        // Another program's open handle shows as a sharing violation or, for a
        // rename over the file, as access denied.
        const bool held = err == ERROR_ACCESS_DENIED && writeAccess(to) == Access::InUse;
        fail(to, "cannot replace", held ? ERROR_SHARING_VIOLATION : err);
    }
}

// MOVEFILE_WRITE_THROUGH has already made the rename durable.
void syncFolder(const Path&) {}

void removeQuietly(const Path& path) noexcept { DeleteFileW(sysPath(path).c_str()); }

bool createFolder(const Path& folder) {
    if (!faultNow() && CreateDirectoryW(sysPath(folder).c_str(), nullptr))
        return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return false;
    fail(folder, "cannot create the folder");
}

bool remove(const Path& path) {
    const std::wstring name = sysPath(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    if (!faultNow() && (folder ? RemoveDirectoryW(name.c_str()) : DeleteFileW(name.c_str())))
        return true;
    if (isNotFound(GetLastError()))
        return false;
    fail(path, folder ? "cannot delete the folder" : "cannot delete");
}

// ---- locks -------------------------------------------------------------------

std::optional<Lock> Lock::tryTake(const Path& lockFile) {
    if (faultNow())
        fail(lockFile, "cannot open the lock file");
    // Not shared for deleting: a lock file cannot go while anyone has it open.
    const HANDLE h = CreateFileW(sysPath(lockFile).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        // Being deleted by someone, which is as good as taken.
        if (isInUse(err))
            return std::nullopt;
        fail(lockFile, "cannot open the lock file", err);
    }
    // Byte 0, past the end of the empty file: locks are per handle, so a second
    // open in this process is refused as well.
    OVERLAPPED at{};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD err = GetLastError();
        CloseHandle(h);
        if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING)
            return std::nullopt;
        fail(lockFile, "cannot lock", err);
    }
    Lock lock;
    lock.handle_ = handleValue(h);
    return lock;
}

void Lock::release() noexcept {
    if (handle_ == -1)
        return;
    const HANDLE h = handleOf(std::exchange(handle_, -1));
    // Unlocked first: a closed handle's locks go only when the system gets to it.
    OVERLAPPED at{};
    UnlockFileEx(h, 0, 1, 0, &at);
    CloseHandle(h);
}

// ---- places --------------------------------------------------------------------

Path programFolder() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0)
            return {};
        if (n < buf.size())
            return Path(buf.substr(0, n)).parent_path();
        buf.resize(buf.size() * 2);
    }
}

Path userDataFolder() {
    wchar_t buf[MAX_PATH * 4];
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buf, MAX_PATH * 4);
    const Path base = n > 0 && n < MAX_PATH * 4 ? Path(std::wstring(buf, n)) : std::filesystem::temp_directory_path();
    return base / L"Graftwell";
}

// ---- child programs ------------------------------------------------------------

namespace {

// One argument as the C runtime's parser reads it back.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        out += c;
        backslashes = 0;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

HANDLE inheritable(const Path& path) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    const HANDLE h = CreateFileW(sysPath(path).c_str(), GENERIC_WRITE, kShareAll, &sa, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        fail(path, "cannot create");
    return h;
}

} // namespace

int run(const Path& program, const std::vector<std::string>& args, const Environment& env, const Path& out,
        const Path& err) {
    std::wstring command = quoted(program.native());
    for (const auto& a : args)
        command += L" " + quoted(wide(a));

    // This process's variables, those named in `env` replaced (names ignore case here).
    std::wstring block;
    wchar_t* own = GetEnvironmentStringsW();
    for (const wchar_t* v = own; *v; v += wcslen(v) + 1) {
        const std::wstring_view var(v);
        bool replaced = false;
        for (const auto& [name, value] : env) {
            const std::wstring n = wide(name) + L"=";
            replaced = replaced || (var.size() >= n.size() && _wcsnicmp(var.data(), n.c_str(), n.size()) == 0);
        }
        if (!replaced)
            block.append(var).push_back(L'\0');
    }
    FreeEnvironmentStringsW(own);
    for (const auto& [name, value] : env)
        block.append(wide(name + "=" + value)).push_back(L'\0');
    block.push_back(L'\0');

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = inheritable(out);
    si.hStdError = inheritable(err);
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &si, &pi);
    const DWORD startError = GetLastError();
    CloseHandle(si.hStdOutput);
    CloseHandle(si.hStdError);
    if (!started)
        fail(program, "cannot start", startError);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<int>(code);
}

} // namespace platform
