#include "archive.h"
#include "fixtures.h"
#include "splice.h"

#include <gmock/gmock.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace fixtures;
using Sections = std::vector<Member>;
using ::testing::ContainsRegex;

namespace {

struct Recorder : splice::FrontEnd {
    std::string edit, other, section = "TILE";
    std::vector<std::string> statuses;
    int yields = 0;
    bool answer = false;
    std::string mapEditPath() override { return edit; }
    std::string mapSplicePath() override { return other; }
    std::string sectionName() override { return section; }
    void setStatus(const std::string& t) override { statuses.push_back(t); }
    void yield() override { ++yields; }
    bool confirm(const std::string&) override { return answer; }
};

// What the job must produce, worked out on the section lists alone.
Bytes replaced(Sections first, const Sections& second, const std::vector<std::string>& names) {
    for (std::string name : names) {
        name.resize(4, ' ');
        const auto named = [&](const Member& s) { return s.first == name; };
        std::find_if(first.begin(), first.end(), named)->second = std::find_if(second.begin(), second.end(), named)->second;
    }
    return makeChunk(first);
}

struct Procedures : ::testing::Test {
    void SetUp() override {
        fe.edit = (dir / "edit.scm").string(), fe.other = (dir / "other.scx").string();
        makeMap(fe.edit, makeChunk(edit), {}, {{"extra\\notes.txt", Bytes(3000, 'n')}});
        remakeOther();
    }
    void remakeOther() { makeMap(fe.other, makeChunk(other), {Codec::Implode}); }
    splice::Result copy() { return splice::copySection(fe, work); }
    splice::Result save() { return splice::save(fe, work); }

    ScratchDir dir;
    splice::WorkFolder work{dir / "program" / "not yet made"};
    Recorder fe;
    Sections edit = {{"VER ", {205, 0}}, {"DIM ", {64, 0, 64, 0}}, {"ERA ", {1, 0}}, {"TILE", Bytes(40, 1)}, {"MTXM", Bytes(40, 2)}, {"STR ", Bytes(9, 3)}};
    Sections other = {{"VER ", {205, 0}}, {"DIM ", {64, 0, 64, 0}}, {"ERA ", {1, 0}}, {"MTXM", Bytes(70, 5)}, {"TILE", Bytes(70, 4)}, {"UNIT", Bytes(2, 6)}};
};

TEST_F(Procedures, CopySectionAndSaveReplaceTheSectionAndKeepTheRest) {
    ::chmod(fe.edit.c_str(), 0640);
    const auto r = copy();
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(fe.statuses, kCopySteps);
    EXPECT_EQ(fe.yields, 12);
    EXPECT_EQ(readAll(work.firstChunk()), makeChunk(edit));
    EXPECT_EQ(readAll(work.secondChunk()), makeChunk(other));
    EXPECT_EQ(readAll(work.editCopy()), readAll(fe.edit));
    EXPECT_FALSE(fs::exists(work.extracted()));
    EXPECT_EQ(readAll(work.tempChunk()), replaced(edit, other, {"TILE"}));
    for (int round = 0; round < 2; ++round) { // a second Save after the same Copy Section gives the same map
        fe.statuses.clear();
        fe.yields = 0;
        const auto s = save();
        ASSERT_TRUE(s) << s.error;
        EXPECT_EQ(fe.statuses, kSaveSteps);
        EXPECT_EQ(fe.yields, 3);
        EXPECT_EQ(archive::readMember(fe.edit, kChunkName), replaced(edit, other, {"TILE"}));
        EXPECT_EQ(archive::readMember(fe.edit, "extra\\notes.txt"), Bytes(3000, 'n'));
        EXPECT_EQ(readAll(fe.edit), readAll(work.editCopy()));
        struct stat st {};
        EXPECT_EQ(::stat(fe.edit.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, 0640u);
    }
    // Cleaning up removes the run's files only.
    writeAll(work.extracted(), {1});
    work.cleanUp();
    EXPECT_EQ(std::vector<fs::directory_entry>(fs::directory_iterator(work.folder()), {}), std::vector{fs::directory_entry(work.extracted())});
}

TEST_F(Procedures, SeveralSectionsInTurnAndNoNameTwice) {
    ASSERT_TRUE(splice::copySections(fe, work, {"MTXM", "TILE"}));
    EXPECT_EQ(readAll(work.tempChunk()), replaced(edit, other, {"MTXM", "TILE"}));
    EXPECT_THAT(splice::copySections(fe, work, {"STR", "TILE", "STR "}).error, ContainsRegex("^section \"STR \" is named twice$"));
}

TEST_F(Procedures, SaveCutShortAfterItsRenameIsFinishedByARerun) {
    ASSERT_TRUE(copy());
    // What a Save killed between its rename and its record update leaves behind.
    archive::add(work.editCopy(), work.tempChunk(), kChunkName);
    fs::copy_file(work.editCopy(), fe.edit, fs::copy_options::overwrite_existing);
    ASSERT_TRUE(save());
    EXPECT_EQ(archive::readMember(fe.edit, kChunkName), replaced(edit, other, {"TILE"}));
}

// How a Copy Section ends for each map and name: with the whole chunk file, or at its
// step with the reason (a regular expression); then Save refuses and the map is as it was.
struct CopyCase {
    std::string name, section;
    std::function<void(Procedures&)> setup;
    size_t steps;
    std::string error;
    friend void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }
};
struct CopyRun : Procedures, ::testing::WithParamInterface<CopyCase> {};

TEST_P(CopyRun, EndsAsExpected) {
    const CopyCase& c = GetParam();
    fe.section = c.section;
    if (c.setup)
        c.setup(*this);
    const Bytes map = readAll(fe.edit);
    const auto r = copy();
    EXPECT_EQ(fe.statuses, first(kCopySteps, c.steps));
    ASSERT_EQ(bool(r), c.steps == kCopySteps.size()) << r.error;
    if (r) {
        EXPECT_EQ(readAll(work.tempChunk()), replaced(edit, other, {c.section}));
        return;
    }
    EXPECT_THAT(r.error, ContainsRegex(c.error));
    EXPECT_TRUE(c.steps > 1 || !fs::exists(work.folder())) << "refused, yet the working folder was touched";
    EXPECT_FALSE(save()) << "Save took the files of a Copy Section that failed";
    EXPECT_EQ(readAll(fe.edit), map);
}

void otherSize(Procedures& t) {
    t.other[1].second = {96, 0, 64, 0};
    t.other[2].second = {4, 0};
    t.remakeOther();
}
INSTANTIATE_TEST_SUITE_P(
    Cases, CopyRun,
    ::testing::Values(
        CopyCase{"FirstSection", "VER", [](Procedures& t) { t.other[0].second = {206, 0, 1}; t.remakeOther(); }, 13, ""},
        CopyCase{"LastSectionOfNoLength", "STR", [](Procedures& t) { t.other.push_back({"STR ", {}}); t.remakeOther(); }, 13, ""},
        CopyCase{"SameMapBothWays", "TILE", [](Procedures& t) { t.fe.other = t.fe.edit; t.other = t.edit; }, 13, ""},
        // The splice map's VER data holds "TILE" and a length: a byte search would copy it.
        CopyCase{"DecoyInsideData", "TILE", [](Procedures& t) { t.other[0].second = {'T', 'I', 'L', 'E', 2, 0, 0, 0, 9, 9}; t.remakeOther(); }, 13, ""},
        CopyCase{"TerrainOfOtherSizeConfirmed", "TILE", [](Procedures& t) { otherSize(t); t.fe.answer = true; }, 13, ""},
        CopyCase{"OtherSizeButNoTerrain", "VER", otherSize, 13, ""},
        CopyCase{"TerrainOfOtherSizeDeclined", "TILE", otherSize, 3,
                 "^Copying \"TILE\" between these maps makes a broken map: the maps differ in size: the map to edit is 64x64, the map to "
                 "splice 96x64; they also differ in tileset: the map to edit has tileset 1, the map to splice tileset 4.$"},
        CopyCase{"FixedSizeSectionOfOtherSize", "ERA", [](Procedures& t) { t.other[2].second = {1, 0, 0}; t.remakeOther(); }, 3,
                 "^the map to splice has a \"ERA \" section of 3 bytes; it must have 2$"},
        CopyCase{"DimensionsOfOtherSize", "DIM", [](Procedures& t) { t.other[1].second = {64, 0, 64, 0, 0}; t.remakeOther(); }, 3,
                 "^the map to splice has a \"DIM \" section of 5 bytes; it must have 4$"},
        CopyCase{"MissingInTheMapToEdit", "UNIT", {}, 4, "^the map to edit has no section \"UNIT\" .its chunk file /.*/scenario1.chk.$"},
        CopyCase{"MissingInTheMapToSplice", "STR", {}, 7, "^the map to splice has no section \"STR \" .its chunk file /.*/scenario2.chk.$"},
        // TILE declares 100 bytes and holds 70.
        CopyCase{"SectionRunningPastItsFile", "TILE", [](Procedures& t) { makeMap(t.fe.other, {'T', 'I', 'L', 'E', 100, 0, 0, 0, 1, 2}); }, 7,
                 "^the map to splice: section \"TILE\" declares 100 bytes of data but its chunk file /.*/scenario2.chk ends after 2 of them$"},
        CopyCase{"NegativeLengthInTheMapToEdit", "TILE", [](Procedures& t) { makeMap(t.fe.edit, {'T', 'I', 'L', 'E', 0xF0, 0xFF, 0xFF, 0xFF, 1}); }, 10,
                 "^the map to edit: section \"TILE\" declares a negative length .-16. in /.*/scenario1.chk$"},
        CopyCase{"NoMapToSplice", "TILE", [](Procedures& t) { t.fe.other = splice::kNoMapLoaded; }, 1, "^no map chosen: pick the map to splice with Browse first$"},
        CopyCase{"NoSectionName", "", {}, 1, "^empty section name"},
        CopyCase{"PlainFileNamedTemp", "TILE", [](Procedures& t) { fs::create_directories(t.work.programFolder()); writeAll(t.work.folder(), {7}); }, 2,
                 "^/.*/temp/~temp1.map: cannot open: Not a directory$"},
        // A file system error names the file it is about first.
        CopyCase{"WorkingFileInTheWay", "TILE", [](Procedures& t) { fs::create_directories(t.work.firstChunk()); }, 3,
                 "^/.*/temp/scenario.chk: cannot rename: Is a directory"},
        // The map the user chose is named, not its working copy.
        CopyCase{"NotAMap", "TILE", [](Procedures& t) { writeAll(t.fe.other, Bytes(2000, 'x')); }, 3, "^/.*/other.scx: not a map archive"}),
    [](const auto& info) { return info.param.name; });

// Each refusal of a Save after a Copy Section leaves the map and its working copy alone.
struct SaveCase {
    std::string name;
    std::function<void(Procedures&)> setup;
    std::string error;
    friend void PrintTo(const SaveCase& c, std::ostream* os) { *os << c.name; }
};
struct SaveRefusal : Procedures, ::testing::WithParamInterface<SaveCase> {};

TEST_P(SaveRefusal, ChangesNothing) {
    ASSERT_TRUE(copy());
    GetParam().setup(*this);
    const auto snapshot = [](const fs::path& p) { return fs::exists(p) ? readAll(p) : Bytes{'-'}; };
    const Bytes map = snapshot(dir / "edit.scm"), workCopy = snapshot(work.editCopy());
    fe.statuses.clear();
    const auto r = save();
    EXPECT_FALSE(r);
    EXPECT_THAT(r.error, ContainsRegex(GetParam().error));
    EXPECT_EQ(fe.statuses, first(kSaveSteps, 1));
    EXPECT_EQ(snapshot(dir / "edit.scm"), map);
    EXPECT_EQ(snapshot(work.editCopy()), workCopy);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveRefusal,
    ::testing::Values(
        SaveCase{"WithoutCopySection", [](Procedures& t) { t.work.cleanUp(); }, "/temp holds no working copy of a map: run Copy Section first; nothing was changed$"},
        SaveCase{"WithoutAMap", [](Procedures& t) { t.fe.edit = splice::kNoMapLoaded; }, "^no map chosen"},
        SaveCase{"ForAnotherMap", [](Procedures& t) { makeMap(t.fe.edit = (t.dir / "third.scm").string(), {}); },
                 "^the working files were made for /.*/edit.scm, not for /.*/third.scm: run Copy Section first"},
        SaveCase{"MapChangedOnDisk", [](Procedures& t) { makeMap(t.fe.edit, {}); }, "edit.scm: the map has changed on disk since Copy Section"},
        SaveCase{"MapGone", [](Procedures& t) { fs::remove(t.fe.edit); }, "edit.scm: the map is gone since Copy Section"},
        SaveCase{"TempChunkGone", [](Procedures& t) { fs::remove(t.work.tempChunk()); }, "/temp holds no temporary chunk file: run Copy Section first"},
        SaveCase{"TempChunkChanged", [](Procedures& t) { writeAll(t.work.tempChunk(), {1}); }, "scenariox.chk: the temporary chunk file has changed"},
        SaveCase{"ReadOnlyMap", [](Procedures& t) { ::chmod(t.fe.edit.c_str(), 0444); }, "edit.scm: the map is read-only; nothing was changed$"}),
    [](const auto& info) { return info.param.name; });

} // namespace
