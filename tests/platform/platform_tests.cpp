// The platform layer's file identity, locks, leftovers and paths, on Linux and under Wine alike: cases that one
// system cannot show (letter case, 8.3 names, or a folder refusing root) skip there.
#include "fixtures.h"
#include "platform.h"

#include <gmock/gmock.h>

#include <chrono>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace fixtures;
using platform::Lock;

namespace {

using ::testing::AllOf, ::testing::HasSubstr, ::testing::Property, ::testing::Throws, ::testing::ThrowsMessage;

std::set<fs::path> names(const fs::path& folder) {
    std::set<fs::path> out;
    for (const auto& e : platform::folderEntries(folder)) out.insert(e.name);
    return out;
}

auto fails(const std::string& part) { return ThrowsMessage<platform::Error>(HasSubstr(part)); }

// ---- one file, one identity ------------------------------------------------------

// Another name for `file`, or one that names nothing where this system has no such name.
struct Spelling {
    const char* name;
    fs::path (*make)(const fs::path& file);
    friend void PrintTo(const Spelling& s, std::ostream* os) { *os << s.name; }
};

// The 8.3 name, as cmd's "dir /x" lists it just before the long one.
fs::path shortName(const fs::path& file) {
    const char* cmd = "C:\\windows\\system32\\cmd.exe";
    std::istringstream listing(fs::exists(cmd) ? run(cmd, {"/c", "dir", "/x", file.parent_path().string()}).out : "");
    for (std::string before, word; listing >> word; before = word)
        if (word == file.filename().string() && before.find('~') != std::string::npos)
            return file.parent_path() / before;
    return {};
}

// `name` beside `file`, made a hard or symbolic link to it where this system can.
fs::path linked(const fs::path& file, const char* name, bool hard) {
    const fs::path at = file.parent_path() / name;
    std::error_code ec;
    hard ? fs::create_hard_link(file, at, ec) : fs::create_symlink(file, at, ec);
    return at;
}

const Spelling kSpellings[] = {
    {"DotsAndDotDots",
     [](const fs::path& f) {
         fs::create_directory(f.parent_path() / "x");
         return f.parent_path() / "." / "x" / ".." / f.filename();
     }},
    {"Relative", [](const fs::path& f) { return f.filename(); }}, // the test runs in the file's folder
    {"HardLink", [](const fs::path& f) { return linked(f, "hard.scm", true); }},
    {"SymbolicLink", [](const fs::path& f) { return linked(f, "link.scm", false); }},
    {"LetterCase", [](const fs::path& f) { return f.parent_path() / "LONGMAPNAME.SCM"; }},
    {"ShortName", shortName},
};

class SameFile : public ::testing::TestWithParam<Spelling> {};

TEST_P(SameFile, HasOneIdentityByEveryName) {
    const ScratchDir dir;
    const fs::path file = dir / "LongMapName.scm";
    writeAll(file, {1});
    const struct InFolder {
        fs::path was = fs::current_path();
        explicit InFolder(const fs::path& p) { fs::current_path(p); }
        ~InFolder() { fs::current_path(was); }
    } in(dir.path());
    const fs::path other = GetParam().make(file);
    if (std::error_code ec; !fs::exists(other, ec)) GTEST_SKIP() << "this system has no such name";
    EXPECT_EQ(platform::fileId(other), platform::fileId(file)) << other.string();
}

INSTANTIATE_TEST_SUITE_P(Names, SameFile, ::testing::ValuesIn(kSpellings),
                         [](const auto& info) { return ::testing::PrintToString(info.param); });

TEST(FileId, TellsFilesApartAndNamesAMissingOne) {
    const ScratchDir dir;
    writeAll(dir / "a.scm", {1});
    writeAll(dir / "b.scm", {1});
    EXPECT_NE(platform::fileId(dir / "a.scm"), platform::fileId(dir / "b.scm"));
    EXPECT_THAT([&] { platform::fileId(dir / "gone.scm"); },
                Throws<platform::Error>(AllOf(Property(&platform::Error::notFound, true),
                                              Property(&std::exception::what, HasSubstr("gone.scm")))));
}

TEST(File, ThatCannotBeOpenedIsNamedAndNotTakenForMissing) {
    const ScratchDir dir;
    EXPECT_THAT([&] { platform::File(dir.path(), platform::File::Mode::Create); },
                Throws<platform::Error>(AllOf(Property(&platform::Error::notFound, false),
                                              Property(&std::exception::what, HasSubstr("cannot open")))));
}

// ---- locks and leftovers -------------------------------------------------------

TEST(Lock, ExcludesEveryOtherTakerUntilReleasedEvenInOneProcess) {
    const ScratchDir dir;
    const fs::path file = dir / "map.lock";
    auto first = Lock::tryTake(file);
    ASSERT_TRUE(first && first->held());
    EXPECT_FALSE(Lock::tryTake(file));
    Lock moved = std::move(*first);
    EXPECT_FALSE(first->held());
    EXPECT_FALSE(Lock::tryTake(file)) << "the lock went with the object moved from";
    moved = Lock();
    EXPECT_TRUE(Lock::tryTake(file));
    EXPECT_TRUE(Lock::tryTake(file)) << "the temporary's lock was not released";
    EXPECT_THAT([&] { Lock::tryTake(dir / "no folder" / "map.lock"); }, fails("map.lock"));
}

// A killed Save's lock goes with its process, and the file it made beside the map stays held until then, and
// is a leftover after.
TEST(Lock, AKilledHoldersLockGoesAndItsFileBesideTheMapBecomesALeftover) {
    const ScratchDir dir;
    const fs::path lock = dir / "map.lock", map = dir / "map.scm", ready = dir / "ready";
    writeAll(map, {1});
    auto holder = std::async(std::launch::async, [&] {
        return run(GRAFTWELL_HOLDER, {platform::toUtf8(lock), platform::toUtf8(map), platform::toUtf8(ready)}).status;
    });
    // Ends the holder, here or, should the test stop early, on the way out (before the wait for it).
    const struct Ending { const fs::path& ready; ~Ending() { platform::removeQuietly(ready); } } ending{ready};
    for (int i = 0; i < 3000 && !fs::exists(ready); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(ready)) << "the holder did not start";
    EXPECT_FALSE(Lock::tryTake(lock));
    EXPECT_EQ(platform::removeLeftovers(map), 0u);
    platform::removeQuietly(ready);
    ASSERT_EQ(holder.get(), 0);
    EXPECT_TRUE(Lock::tryTake(lock));
    EXPECT_EQ(names(dir.path()).size(), 3u);
    EXPECT_EQ(platform::removeLeftovers(map), 1u);
    EXPECT_EQ(names(dir.path()), (std::set<fs::path>{"map.lock", "map.scm"}));
}

TEST(Leftovers, OnlyUnheldFilesOfTheMapsOwnPatternGo) {
    const ScratchDir dir;
    const fs::path map = dir / "edit.scm";
    writeAll(map, {1});
    const fs::path stale = platform::createBeside(map).path(), otherMaps = platform::createBeside(dir / "b.scm").path();
    const platform::File held = platform::createBeside(map);
    // Close to the pattern, yet not ours: no suffix, other lengths or letters, another prefix.
    for (const char* decoy : {".edit.scm.graftwell-", ".edit.scm.graftwell-1.2.34", ".edit.scm.graftwell-12345",
                              ".edit.scm.graftwell-1234567", "xedit.scm.graftwell-123456", ".edit.scm.graftwell-1-x",
                              ".edit.scm.graftwell-x-1"})
        writeAll(dir / decoy, {});
    std::set<fs::path> kept = names(dir.path());
    kept.erase(stale.filename());
    EXPECT_EQ(platform::removeLeftovers(map), 1u);
    EXPECT_EQ(names(dir.path()), kept) << "held: " << held.path() << ", another map's: " << otherMaps;
    EXPECT_EQ(platform::removeLeftovers(dir / "no folder" / "edit.scm"), 0u);
}

// ---- paths Windows makes hard ------------------------------------------------------

// Folders named past 260 characters, or ending in a space or a dot (which Windows strips from a name unless
// it is given in the long form): a map there is made, replaced, read, listed under its own name and removed; the folder
// is writable.
struct Folders {
    const char* name;
    std::vector<std::string> path;
    friend void PrintTo(const Folders& f, std::ostream* os) { *os << f.name; }
};
class HardPath : public ::testing::TestWithParam<Folders> {};

TEST_P(HardPath, HoldsAMapLikeAnyOther) {
    const ScratchDir dir;
    fs::path folder = dir.path();
    for (const auto& name : GetParam().path) folder /= name;
    platform::createFolders(folder);
    const fs::path map = folder / "map.scm";
    platform::writeReplacing(map, Bytes(10, 1));
    platform::writeReplacing(map, Bytes(20, 2));
    Bytes back(30);
    back.resize(platform::File(map, platform::File::Mode::Read).read(back));
    EXPECT_EQ(back, Bytes(20, 2));
    EXPECT_EQ(platform::status(map).size, 20u);
    EXPECT_EQ(platform::fileId(map), platform::fileId(folder / ".." / folder.filename() / "map.scm"));
    EXPECT_EQ(platform::writeAccess(folder), platform::Access::Writable);
    EXPECT_EQ(names(folder.parent_path()), (std::set<fs::path>{folder.filename()}));
    EXPECT_EQ(names(folder), (std::set<fs::path>{"map.scm"})) << "the write access probe was left behind";
    platform::removeTree(dir / GetParam().path.front());
    EXPECT_TRUE(names(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Folders, HardPath,
                         ::testing::Values(Folders{"Long", std::vector(5, std::string(60, 'd'))},
                                           Folders{"EndingInASpace", {"maps ", "more "}},
                                           Folders{"EndingInADot", {"maps.", "more."}}),
                         [](const auto& info) { return ::testing::PrintToString(info.param); });

// A folder is writable when a file can be made in it, not when it opens for adding one: Wine grants that open
// where it then refuses the file.
TEST(WriteAccess, AFolderIsWritableWhereAFileCanBeMade) {
    int refusing = 0;
    for (const fs::path folder : {GRAFTWELL_UNWRITABLE, GRAFTWELL_SYSTEM_FOLDER}) {
        // Not where it is missing or we may write there (as root may, in a read-only folder).
        const bool refuses = fs::is_directory(folder) && !std::ofstream(folder / "probe");
        platform::removeQuietly(folder / "probe");
        refusing += refuses;
        EXPECT_TRUE(!refuses || platform::writeAccess(folder) != platform::Access::Writable) << folder;
    }
    if (!refusing) GTEST_SKIP() << "no folder here refuses new files";
}

} // namespace
