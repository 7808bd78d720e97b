// Save under injected faults: every file-system call that changes something is made to fail, or the process is
// killed at it, one call per run. The map to edit must always hold either its old bytes or the saved ones, and a
// plain rerun of Save, or an Undo, must then succeed.
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
struct Mode { const char *fault, *copyRange; bool savedBefore = false, larger = false; };
class SaveUnderFaults : public ::testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        makeMap(map, makeChunk({{"VER ", {205, 0}}, {"TILE", pattern(3000, 1)}}), {}, {{"notes", pattern(2000, 4)}});
        makeMap(dir / "other.scm", makeChunk({{"TILE", tile}}));
        if (GetParam().savedBefore) { // saved once from a third map, so that the next Save changes it again
            makeMap(dir / "third.scm", makeChunk({{"TILE", pattern(3000, 2)}}));
            ASSERT_EQ(cli({"splice", map, (dir / "third.scm").string()}), 0);
        }
        oldBytes = readAll(map);
    }
    // graftwell-cli's exit status, with the shim failing or ending it at call `at` (never
    // at 0); a sanitizer runtime would insist on being loaded before the shim.
    int cli(std::vector<std::string> args, long at = 0) {
        args.insert(args.end(), {"--work-dir", (dir / "work").string()});
        return run(GRAFTWELL_CLI, args,
                   {{"LD_PRELOAD", GRAFTWELL_FAULTSHIM}, {"GW_FAULT_MODE", GetParam().fault},
                    {"GW_FAULT_AT", std::to_string(at)}, {"GW_FAULT_FIRED", fired}, {"GW_COPY_RANGE", GetParam().copyRange},
                    {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0"}})
            .status;
    }
    // The old map, a finished Copy Section of it, and a Save failing or ended at call `at`: its exit status.
    int saveFrom(long at) {
        writeAll(map, oldBytes);
        fs::remove_all(dir / "work");
        fs::remove(fired);
        EXPECT_EQ(cli({"copy", map, (dir / "other.scm").string()}), 0);
        return cli({"save", map}, at);
    }
    const Bytes tile = pattern(GetParam().larger ? 30000 : 3000, 3);
    ScratchDir dir;
    std::string map = (dir / "edit.scm").string(), fired = (dir / "fired").string();
    Bytes oldBytes;
};

// After the Save cut short, a rerun of Save gives the saved map; Undo instead brings the old one back, and
// succeeds exactly when the Save had already replaced the map.
TEST_P(SaveUnderFaults, MapIsAlwaysOldOrNewAndARerunOrAnUndoSucceeds) {
    const bool failing = GetParam().fault == std::string("fail");
    // Save is deterministic, so the saved map's bytes are known in advance.
    ASSERT_EQ(saveFrom(0), 0);
    EXPECT_EQ(archive::readMember(map, kChunkName), makeChunk({{"VER ", {205, 0}}, {"TILE", tile}}));
    EXPECT_EQ(archive::readMember(map, "notes"), pattern(2000, 4));
    const Bytes newBytes = readAll(map);
    long at = 1;
    for (; !HasFailure(); ++at) {
        SCOPED_TRACE(GetParam().fault + std::string(" at call ") + std::to_string(at));
        const int status = saveFrom(at);
        if (!fs::exists(fired)) { // every call has had its turn: this run went through untouched
            EXPECT_TRUE(status == 0 && readAll(map) == newBytes);
            break;
        }
        const Bytes now = readAll(map);
        EXPECT_TRUE(now == oldBytes || now == newBytes) << "the map is neither the old nor the saved one";
        if (failing) {
            EXPECT_NE(status, 0) << "a failed call was reported as success";
            EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), GetParam().savedBefore ? 5 : 4)
                << "a file was left beside the map";
        }
        ASSERT_EQ(cli({"save", map}), 0) << "the rerun must succeed";
        EXPECT_EQ(readAll(map), newBytes);
        saveFrom(at);
        const bool replaced = readAll(map) != oldBytes;
        EXPECT_EQ(cli({"undo", map}), replaced ? 0 : 1);
        EXPECT_EQ(readAll(map), oldBytes);
    }
    EXPECT_GT(at, 5) << "the shim saw too few calls to be hooked in";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SaveUnderFaults,
    ::testing::Values(Mode{"fail", ""}, Mode{"kill", ""}, Mode{"fail", "none"}, Mode{"kill", "short"},
                      Mode{"fail", "", true}, Mode{"kill", "", true}, Mode{"kill", "", false, true}),
    [](const auto& info) {
        const Mode& m = info.param;
        return m.fault + ("Copy_" + std::string(m.copyRange)) + (m.savedBefore ? "SavedBefore" : "") +
               (m.larger ? "Larger" : "");
    });

} // namespace
