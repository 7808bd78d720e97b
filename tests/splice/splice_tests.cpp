#include "archive.h"
#include "fixtures.h"
#include "splice.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using fixtures::Bytes;
using Sections = std::vector<std::pair<std::string, Bytes>>;

namespace {

using fixtures::kCopySteps;
using fixtures::kSaveSteps;

struct Recorder : splice::FrontEnd {
    std::string edit = "No map loaded.", other = "No map loaded.", section = "TILE";
    std::vector<std::string> statuses;
    int yields = 0;
    bool answer = false;
    std::vector<std::string> warnings;

    std::string mapEditPath() override { return edit; }
    std::string mapSplicePath() override { return other; }
    std::string sectionName() override { return section; }
    void setStatus(const std::string& t) override { statuses.push_back(t); }
    void yield() override { ++yields; }
    bool confirm(const std::string& w) override {
        warnings.push_back(w);
        return answer;
    }
};

Bytes bytes(int n, uint8_t v) { return Bytes(static_cast<size_t>(n), v); }

// What the job must produce, worked out on the section lists alone.
Sections replaceIn(Sections first, const Sections& second, const std::string& name) {
    for (auto& s : first)
        if (s.first == name) {
            for (const auto& t : second)
                if (t.first == name) { s.second = t.second; break; }
            break;
        }
    return first;
}
Bytes replaced(const Sections& first, const Sections& second, const std::string& name) {
    return fixtures::makeChunk(replaceIn(first, second, name));
}

class Procedures : public ::testing::Test {
protected:
    void SetUp() override {
        edit = fixtures::makeChunk(editSections);
        other = fixtures::makeChunk(otherSections);
        fixtures::makeMap(dir / "edit.scm", edit, {}, {{"extra\\notes.txt", Bytes(3000, 'n')}});
        fixtures::makeMap(dir / "other.scx", other, {fixtures::Codec::Implode});
        fe.edit = (dir / "edit.scm").string();
        fe.other = (dir / "other.scx").string();
        fs::create_directory(dir / "prog");
    }
    splice::Result copy() { return splice::copySection(fe, work); }
    splice::Result save() { return splice::save(fe, work); }
    Bytes chunkOf(const fs::path& map) { return archive::readMember(map, "staredit\\scenario.chk"); }

    fixtures::ScratchDir dir;
    splice::WorkFolder work{dir / "prog"};
    Recorder fe;
    Sections editSections = {{"VER ", {205, 0}}, {"DIM ", {64, 0, 64, 0}}, {"ERA ", {1, 0}},
                             {"TILE", bytes(40, 1)}, {"MTXM", bytes(40, 2)}, {"STR ", bytes(9, 3)}};
    Sections otherSections = {{"VER ", {205, 0}}, {"DIM ", {64, 0, 64, 0}}, {"ERA ", {1, 0}},
                              {"MTXM", bytes(70, 5)}, {"TILE", bytes(70, 4)}, {"UNIT", bytes(2, 6)}};
    Bytes edit, other;
};

TEST_F(Procedures, CopySectionReplacesTheSectionAndReportsEveryStep) {
    const auto r = copy();
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(fe.statuses, kCopySteps);
    EXPECT_EQ(fe.yields, 12);
    EXPECT_EQ(fixtures::readAll(work.tempChunk()), replaced(editSections, otherSections, "TILE"));
    EXPECT_EQ(fixtures::readAll(work.tempChunk()).size(), edit.size() + 30);
    EXPECT_EQ(fixtures::readAll(work.firstChunk()), edit);
    EXPECT_EQ(fixtures::readAll(work.secondChunk()), other);
    EXPECT_FALSE(fs::exists(work.extracted()));
    EXPECT_EQ(fixtures::readAll(dir / "edit.scm"), fixtures::readAll(work.editCopy()));
}

TEST_F(Procedures, SameMapBothWaysGivesTheSameChunk) {
    fe.other = fe.edit;
    ASSERT_TRUE(copy());
    EXPECT_EQ(fixtures::readAll(work.tempChunk()), edit);
}

TEST_F(Procedures, SectionAtEitherEndAndOfZeroLength) {
    for (const char* name : {"VER ", "STR "}) {
        fe.section = name;
        otherSections.push_back({"STR ", {}});
        fixtures::makeMap(dir / "other.scx", fixtures::makeChunk(otherSections));
        ASSERT_TRUE(copy()) << name;
        EXPECT_EQ(fixtures::readAll(work.tempChunk()), replaced(editSections, otherSections, name)) << name;
    }
}

TEST_F(Procedures, DecoyInsideDataIsNotSpliced) {
    // The splice map's VER data holds "TILE" plus a length: a byte search would copy it.
    otherSections[0].second = {'T', 'I', 'L', 'E', 2, 0, 0, 0, 9, 9};
    fixtures::makeMap(dir / "other.scx", fixtures::makeChunk(otherSections));
    ASSERT_TRUE(copy());
    EXPECT_EQ(fixtures::readAll(work.tempChunk()), replaced(editSections, otherSections, "TILE"));
}

TEST_F(Procedures, SectionMissingInEitherMapStopsAtItsStep) {
    fe.section = "UNIT";  // only in the map to splice
    auto r = copy();
    ASSERT_FALSE(r);
    EXPECT_EQ(fe.statuses.back(), "Grabbing data from first map...");
    EXPECT_NE(r.error.find("map to edit has no section \"UNIT\""), std::string::npos) << r.error;
    EXPECT_FALSE(fs::exists(work.tempChunk()));

    fe.section = "STR";  // only in the map to edit
    r = copy();
    ASSERT_FALSE(r);
    EXPECT_EQ(fe.statuses.back(), "Checking offset and length of section...");
    EXPECT_NE(r.error.find("map to splice has no section \"STR \""), std::string::npos) << r.error;
    const Bytes leading(edit.begin(), edit.begin() + 8 + 2 + 8 + 4 + 8 + 2 + 8 + 40 + 8 + 40);
    EXPECT_EQ(fixtures::readAll(work.tempChunk()), leading);
    // Without a finished Copy Section, Save must not put that half file into the map.
    EXPECT_FALSE(save());
    EXPECT_EQ(chunkOf(dir / "edit.scm"), edit);
}

TEST_F(Procedures, SectionRunningPastItsFileIsRefused) {
    // TILE at the end declares 100 bytes but holds 70.
    Bytes bad = fixtures::makeChunk({{"VER ", {205, 0}}, {"TILE", bytes(70, 4)}});
    bad[14] = 100;
    fixtures::makeMap(dir / "other.scx", bad);
    auto r = copy();
    ASSERT_FALSE(r);
    EXPECT_EQ(fe.statuses.back(), "Checking offset and length of section...");
    EXPECT_NE(r.error.find("map to splice"), std::string::npos) << r.error;

    // A negative length in the map to edit is caught where its length is read.
    Bytes neg = fixtures::makeChunk({{"TILE", bytes(4, 1)}});
    neg[4] = 0xF0; neg[5] = neg[6] = neg[7] = 0xFF;  // -16: jumps before the file
    fixtures::makeMap(dir / "edit.scm", neg);
    fixtures::makeMap(dir / "other.scx", other);
    r = copy();
    ASSERT_FALSE(r);
    EXPECT_EQ(fe.statuses.back(), "Checking offset and length of rest of file...");
    EXPECT_NE(r.error.find("negative length"), std::string::npos) << r.error;
}

TEST_F(Procedures, NothingIsTouchedWithoutBothMapsOrWithABadName) {
    fe.other = "No map loaded.";
    auto r = copy();
    ASSERT_FALSE(r);
    EXPECT_NE(r.error.find("no map chosen"), std::string::npos);
    EXPECT_FALSE(fs::exists(work.folder()));
    fe.other = fe.edit;
    fe.section = "";
    EXPECT_FALSE(copy());
    EXPECT_FALSE(fs::exists(work.folder()));
}

TEST_F(Procedures, CleanUpRemovesTheRunsFilesOnly) {
    ASSERT_TRUE(copy());
    fixtures::writeAll(work.extracted(), {1});
    fixtures::writeAll(work.folder() / "mine.txt", {2});
    work.cleanUp();
    for (const auto& p : {work.editCopy(), work.spliceCopy(), work.firstChunk(), work.secondChunk(),
                          work.tempChunk(), work.record()})
        EXPECT_FALSE(fs::exists(p)) << p;
    EXPECT_TRUE(fs::exists(work.extracted()));
    EXPECT_TRUE(fs::exists(work.folder() / "mine.txt"));
}

TEST_F(Procedures, PlainFileNamedTempFailsAtTheCopy) {
    fixtures::writeAll(work.folder(), {7});
    const auto r = copy();
    ASSERT_FALSE(r);
    EXPECT_EQ(fe.statuses.back(), "Copying maps...");
    EXPECT_EQ(fixtures::readAll(work.folder()), Bytes{7});
}

TEST_F(Procedures, NotAMapFailsAtExtraction) {
    fixtures::writeAll(dir / "other.scx", Bytes(2000, 'x'));
    const auto r = copy();
    ASSERT_FALSE(r);
    EXPECT_EQ(fe.statuses.back(), "Extracting scenario.chk...");
    // The map the user chose is named, not the working copy.
    EXPECT_EQ(r.error.rfind(fe.other + ": not a map archive", 0), 0u) << r.error;
}

TEST_F(Procedures, TerrainBetweenMapsOfOtherSizeNeedsConfirmation) {
    otherSections[1].second = {96, 0, 64, 0};
    otherSections[2].second = {4, 0};
    fixtures::makeMap(dir / "other.scx", fixtures::makeChunk(otherSections));
    auto r = copy();
    ASSERT_FALSE(r);
    ASSERT_EQ(fe.warnings.size(), 1u);
    EXPECT_NE(fe.warnings[0].find("64x64"), std::string::npos) << fe.warnings[0];
    EXPECT_NE(fe.warnings[0].find("96x64"), std::string::npos);
    EXPECT_NE(fe.warnings[0].find("tileset 4"), std::string::npos);
    fe.answer = true;
    EXPECT_TRUE(copy());
    fe.section = "STR";  // not terrain: no question
    fe.warnings.clear();
    copy();
    EXPECT_TRUE(fe.warnings.empty());
}

TEST_F(Procedures, FixedSizeSectionOfOtherSizeIsRefused) {
    otherSections[2].second = {1, 0, 0};
    fixtures::makeMap(dir / "other.scx", fixtures::makeChunk(otherSections));
    fe.section = "ERA";
    const auto r = copy();
    ASSERT_FALSE(r);
    EXPECT_NE(r.error.find("must have 2"), std::string::npos) << r.error;
}

TEST_F(Procedures, SeveralSectionsInTurnAndNoNameTwice) {
    ASSERT_TRUE(splice::copySections(fe, work, {"MTXM", "TILE"}));
    EXPECT_EQ(fixtures::readAll(work.tempChunk()),
              fixtures::makeChunk(replaceIn(replaceIn(editSections, otherSections, "MTXM"),
                                            otherSections, "TILE")));
    const auto r = splice::copySections(fe, work, {"TILE", "MTXM", "TILE"});
    ASSERT_FALSE(r);
    EXPECT_NE(r.error.find("named twice"), std::string::npos);
}

// ---- Save -------------------------------------------------------------------

TEST_F(Procedures, SavePutsTheChunkIntoTheMapAndKeepsTheRest) {
    const Bytes notes = archive::readMember(dir / "edit.scm", "extra\\notes.txt");
    ::chmod((dir / "edit.scm").c_str(), 0640);
    ASSERT_TRUE(copy());
    fe.statuses.clear();
    fe.yields = 0;
    const auto r = save();
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(fe.statuses, kSaveSteps);
    EXPECT_EQ(fe.yields, 3);
    EXPECT_EQ(chunkOf(dir / "edit.scm"), replaced(editSections, otherSections, "TILE"));
    EXPECT_EQ(archive::readMember(dir / "edit.scm", "extra\\notes.txt"), notes);
    EXPECT_EQ(fixtures::readAll(dir / "edit.scm"), fixtures::readAll(work.editCopy()));
    struct stat st {};
    ::stat((dir / "edit.scm").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // A second Save after the same Copy Section gives the same chunk file.
    ASSERT_TRUE(save());
    EXPECT_EQ(chunkOf(dir / "edit.scm"), replaced(editSections, otherSections, "TILE"));
    EXPECT_EQ(archive::readMember(dir / "edit.scm", "extra\\notes.txt"), notes);
}

TEST_F(Procedures, SaveRefusesWithoutCopySectionOrWithoutAMap) {
    const Bytes before = fixtures::readAll(dir / "edit.scm");
    auto r = save();
    ASSERT_FALSE(r);
    EXPECT_NE(r.error.find("run Copy Section first"), std::string::npos) << r.error;
    EXPECT_EQ(fe.statuses.back(), "Adding temp chk file to temp map...");
    fe.edit = "No map loaded.";
    r = save();
    EXPECT_NE(r.error.find("no map chosen"), std::string::npos);
    EXPECT_EQ(fixtures::readAll(dir / "edit.scm"), before);
}

TEST_F(Procedures, SaveRefusesStaleOrForeignWorkingFiles) {
    ASSERT_TRUE(copy());
    // Another map named in the window than the one copied.
    fixtures::makeMap(dir / "third.scm", edit);
    fe.edit = (dir / "third.scm").string();
    auto r = save();
    ASSERT_FALSE(r);
    EXPECT_NE(r.error.find("were made for"), std::string::npos) << r.error;
    // The map changed on disk since Copy Section.
    fe.edit = (dir / "edit.scm").string();
    fixtures::makeMap(dir / "edit.scm", other);
    const Bytes changed = fixtures::readAll(dir / "edit.scm");
    r = save();
    ASSERT_FALSE(r);
    EXPECT_NE(r.error.find("changed on disk"), std::string::npos) << r.error;
    EXPECT_EQ(fixtures::readAll(dir / "edit.scm"), changed);
    // The map is gone: saving would bring back a stale copy.
    fs::remove(dir / "edit.scm");
    EXPECT_FALSE(save());
    EXPECT_FALSE(fs::exists(dir / "edit.scm"));
}

TEST_F(Procedures, WorkFolderOfAProgramFolderNotYetMadeIsCreated) {
    work = splice::WorkFolder(dir / "new" / "nested");
    ASSERT_TRUE(copy());
    EXPECT_TRUE(fs::is_regular_file(work.tempChunk()));
}

TEST_F(Procedures, SaveCutShortAfterItsRenameIsFinishedByARerun) {
    ASSERT_TRUE(copy());
    // What a Save killed between its rename and its record update leaves behind.
    archive::add(work.editCopy(), work.tempChunk(), "staredit\\scenario.chk");
    fs::copy_file(work.editCopy(), dir / "edit.scm", fs::copy_options::overwrite_existing);
    const auto r = save();
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(chunkOf(dir / "edit.scm"), replaced(editSections, otherSections, "TILE"));
}

TEST_F(Procedures, SaveRefusesAReadOnlyMap) {
    ASSERT_TRUE(copy());
    ::chmod((dir / "edit.scm").c_str(), 0444);
    const Bytes before = fixtures::readAll(dir / "edit.scm");
    const auto r = save();
    ASSERT_FALSE(r);
    EXPECT_NE(r.error.find("read-only"), std::string::npos) << r.error;
    EXPECT_EQ(fixtures::readAll(dir / "edit.scm"), before);
    EXPECT_EQ(fixtures::readAll(work.editCopy()), before);
}

} // namespace
