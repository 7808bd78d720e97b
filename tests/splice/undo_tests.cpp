// Saves that write over their own earlier tail, and undoing the last Save.
#include "archive.h"
#include "fixtures.h"
#include "protections.h"
#include "splice.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using fixtures::Bytes;

namespace {

struct Front : splice::FrontEnd {
    std::string edit, other;
    std::vector<std::string> statuses;
    std::string mapEditPath() override { return edit; }
    std::string mapSplicePath() override { return other; }
    std::string sectionName() override { return "TILE"; }
    void setStatus(const std::string& t) override { statuses.push_back(t); }
    void yield() override {}
    bool confirm(const std::string&) override { return true; }
};

class Undo : public ::testing::TestWithParam<protections::Protection> {
protected:
    void SetUp() override {
        protections::make(GetParam(), map);
        for (uint32_t i = 0; i < 2; ++i)
            fixtures::makeMap(dir / ("other" + std::to_string(i) + ".scm"), protections::sampleChunk(10 + i));
        original = fixtures::readAll(map);
        fe.edit = map.string();
    }
    // Copy Section from one of the two other maps, then Save.
    void copyAndSave(int from) {
        fe.other = (dir / ("other" + std::to_string(from) + ".scm")).string();
        const auto copied = splice::copySection(fe, work);
        ASSERT_TRUE(copied) << copied.error;
        const auto saved = splice::save(fe, work);
        ASSERT_TRUE(saved) << saved.error;
    }
    std::string undoError() {
        fe.statuses.clear();
        const auto r = splice::undo(fe, work);
        return r ? "" : r.error;
    }

    fixtures::ScratchDir dir;
    fs::path map = dir / "edit.scm";
    splice::WorkFolder work{dir / "prog"};
    Front fe;
    Bytes original;
};

TEST_P(Undo, TwentySavesStayWithinOneChunkAndOneSetOfTablesAndTheLastIsUndone) {
    Bytes beforeLast;
    for (int i = 0; i < 20; ++i) {
        beforeLast = fixtures::readAll(map);
        copyAndSave(i % 2);
        ASSERT_EQ(archive::readMember(map, fixtures::kChunkName), fixtures::readAll(work.tempChunk())) << i;
        ASSERT_EQ(archive::readMember(map, protections::kNotesName), protections::sampleNotes()) << i;
    }
    const auto m = fixtures::RawMap::load(map);
    const auto& chunk = m.blocks[m.hashes[size_t(m.findHash(fixtures::kChunkName))].block & 0x0FFFFFFF];
    EXPECT_LE(m.bytes.size(), original.size() + chunk.storedSize + 16 * (m.blocks.size() + (m.hashCount & 0x0FFFFFFF)));

    EXPECT_EQ(undoError(), "");
    EXPECT_EQ(fe.statuses, (std::vector<std::string>{"Restoring map from before last save...", "Undo successful!"}));
    EXPECT_EQ(fixtures::readAll(map), beforeLast);
    EXPECT_NE(undoError(), "") << "only the last Save is undone";
    EXPECT_EQ(fixtures::readAll(map), beforeLast);
}

TEST_P(Undo, RestoresTheMapByteForByteOnceEvenAfterASecondSave) {
    copyAndSave(0);
    ASSERT_TRUE(splice::save(fe, work)); // changes nothing: the first Save stays the one undone
    EXPECT_EQ(undoError(), "");
    EXPECT_EQ(fixtures::readAll(map), original);
    EXPECT_NE(undoError().find("holds no Save to undo"), std::string::npos);
}

TEST_P(Undo, IsRefusedWhenTheMapChangedOrTheWorkingFilesAreAnotherMaps) {
    copyAndSave(1);
    const Bytes saved = fixtures::readAll(map), kept = fixtures::readAll(work.undoCopy());
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { fe.edit = (dir / "other0.scm").string(); }, "was of " + fs::weakly_canonical(map).string()},
        {[&] { fixtures::writeAll(map, Bytes(saved.begin(), saved.end() - 1)); }, "changed on disk since the last Save"},
        {[&] { fixtures::writeAll(map, original); }, "already as it was before the last Save"},
        {[&] { fixtures::writeAll(work.undoCopy(), saved); }, "the kept copy of the map is damaged"},
        {[&] { fs::remove(map); }, "the map is gone"},
    };
    for (const auto& [spoil, why] : cases) {
        spoil();
        const Bytes before = fs::exists(fe.edit) ? fixtures::readAll(fe.edit) : Bytes{};
        EXPECT_NE(undoError().find(why), std::string::npos) << why;
        EXPECT_EQ(fe.statuses, std::vector<std::string>{"Restoring map from before last save..."});
        EXPECT_EQ(fs::exists(fe.edit) ? fixtures::readAll(fe.edit) : Bytes{}, before) << why;
        fe.edit = map.string();
        fixtures::writeAll(map, saved);
        fixtures::writeAll(work.undoCopy(), kept);
    }
    EXPECT_EQ(undoError(), "");
    EXPECT_EQ(fixtures::readAll(map), original);
}

INSTANTIATE_TEST_SUITE_P(Maps, Undo, ::testing::ValuesIn(protections::all()),
                         [](const auto& info) { return info.param.name; });

} // namespace
