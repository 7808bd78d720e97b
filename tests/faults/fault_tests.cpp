// Save under injected faults: every file-system call that changes something is made to fail, or the process is
// killed at it, one call per run. The map to edit must always hold either its old bytes or the saved ones, and a
// plain rerun of Save must then succeed.
#include "archive.h"
#include "fixtures.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

// The mode; how copy_file_range behaves: as it does, copying nothing (as between some file systems) or stopping
// early, the copies must be whole either way; whether the map was saved once before, so that Save writes over
// its own earlier place at the end; and whether the new chunk file is larger, so that it goes past the notes
// instead of taking the old one's place.
class SaveUnderFaults : public ::testing::TestWithParam<std::tuple<const char*, const char*, bool, bool>> {
protected:
    void SetUp() override {
        makeMap(map, makeChunk({{"VER ", {205, 0}}, {"TILE", pattern(3000, 1)}}), {}, {{"notes", pattern(2000, 4)}});
        makeMap(dir / "other.scm", makeChunk({{"TILE", tile}}));
        oldBytes = readAll(map);
        if (std::get<2>(GetParam())) { // saved once from a third map, so that the next Save changes it again
            makeMap(dir / "third.scm", makeChunk({{"TILE", pattern(3000, 2)}}));
            ASSERT_EQ(cli({"splice", map, (dir / "third.scm").string()}), 0);
            fs::remove_all(dir / "work");
            oldBytes = readAll(map);
        }
    }
    // graftwell-cli's exit status, with the shim failing or ending it at call `at` (never
    // at 0); a sanitizer runtime would insist on being loaded before the shim.
    int cli(std::vector<std::string> args, const char* mode = "fail", long at = 0) {
        args.insert(args.end(), {"--work-dir", (dir / "work").string()});
        return run(GRAFTWELL_CLI, args,
                   {{"LD_PRELOAD", GRAFTWELL_FAULTSHIM}, {"GW_FAULT_MODE", mode}, {"GW_FAULT_AT", std::to_string(at)},
                    {"GW_FAULT_FIRED", fired}, {"GW_COPY_RANGE", std::get<1>(GetParam())},
                    {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0"}})
            .status;
    }
    // The old map and a finished Copy Section of it.
    void prepare() {
        writeAll(map, oldBytes);
        fs::remove_all(dir / "work");
        ASSERT_EQ(cli({"copy", map, (dir / "other.scm").string()}), 0);
    }
    void expectSaved() {
        EXPECT_EQ(archive::readMember(map, kChunkName), makeChunk({{"VER ", {205, 0}}, {"TILE", tile}}));
        EXPECT_EQ(archive::readMember(map, "notes"), pattern(2000, 4));
    }

    const Bytes tile = pattern(std::get<3>(GetParam()) ? 30000 : 3000, 3);
    ScratchDir dir;
    std::string map = (dir / "edit.scm").string(), fired = (dir / "fired").string();
    Bytes oldBytes;
};

TEST_P(SaveUnderFaults, MapIsAlwaysOldOrNewAndARerunSucceeds) {
    const std::string mode = std::get<0>(GetParam());
    // Save is deterministic, so the saved map's bytes are known in advance.
    prepare();
    ASSERT_EQ(cli({"save", map}), 0);
    const Bytes newBytes = readAll(map);
    long at = 1;
    for (;; ++at) {
        SCOPED_TRACE(mode + " at call " + std::to_string(at));
        prepare();
        fs::remove(fired);
        const int status = cli({"save", map}, mode.c_str(), at);
        if (!fs::exists(fired)) { // every call has had its turn: this run went through untouched
            ASSERT_EQ(status, 0);
            expectSaved();
            break;
        }
        const Bytes now = readAll(map);
        EXPECT_TRUE(now == oldBytes || now == newBytes) << "the map is neither the old nor the saved one";
        if (mode == "fail") {
            EXPECT_NE(status, 0) << "a failed call was reported as success";
            EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), std::get<2>(GetParam()) ? 5 : 4)
                << "a file was left beside the map";
        }
        ASSERT_EQ(cli({"save", map}), 0) << "the rerun must succeed";
        expectSaved();
        if (HasFailure()) break;
    }
    EXPECT_GT(at, 5) << "the shim saw too few calls to be hooked in";
}

// Undo after a Save cut short at any call brings the old map back, and succeeds exactly when that Save had
// already replaced the map.
TEST_P(SaveUnderFaults, UndoAfterACutShortSaveBringsBackTheOldMap) {
    for (long at = 1;; ++at) {
        SCOPED_TRACE(std::string(std::get<0>(GetParam())) + " at call " + std::to_string(at));
        prepare();
        fs::remove(fired);
        cli({"save", map}, std::get<0>(GetParam()), at);
        const bool replaced = readAll(map) != oldBytes;
        EXPECT_EQ(cli({"undo", map}), replaced ? 0 : 1);
        EXPECT_EQ(readAll(map), oldBytes);
        if (!fs::exists(fired) || HasFailure()) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, SaveUnderFaults,
                         ::testing::Values(std::tuple{"fail", "", false, false}, std::tuple{"kill", "", false, false},
                                           std::tuple{"fail", "none", false, false}, std::tuple{"kill", "short", false, false},
                                           std::tuple{"fail", "", true, false}, std::tuple{"kill", "", true, false},
                                           std::tuple{"kill", "", false, true}),
                         [](const auto& info) {
                             return std::get<0>(info.param) + std::string("Copy_") + std::get<1>(info.param) +
                                    (std::get<2>(info.param) ? "SavedBefore" : "") +
                                    (std::get<3>(info.param) ? "Larger" : "");
                         });

} // namespace
