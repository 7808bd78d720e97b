#include "archive.h"
#include "fixtures.h"
#include "platform.h"

#include <gmock/gmock.h>

#include <thread>

using namespace fixtures;

namespace {

// Each command in turn on two maps of other sizes: its exit status, all its output (one
// status line a line) and its messages; at the end, what the saves left in the map. Names
// with spaces and Hangul reach the maps and the messages unchanged.
TEST(Cli, CommandsPrintTheirStepsAndExitWithTheirStatus) {
    const ScratchDir dir;
    const auto utf8 = [&](const char* name) { return platform::toUtf8(dir.path() / platform::fromUtf8(name)); };
    const std::string a = utf8("a.scm"), b = utf8("[8]투혼 1.3.scx"), w = utf8("작업 w");
    const std::string gone = utf8("gone 투혼.scm"), error = "graftwell-cli: error: ";
    makeMap(platform::fromUtf8(a), makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", Bytes(10, 1)}, {"MTXM", Bytes(10, 2)}}));
    makeMap(platform::fromUtf8(b), makeChunk({{"DIM ", {9, 0, 8, 0}}, {"MTXM", Bytes(4, 3)}, {"TILE", Bytes(6, 4)},
                                              {"STR ", table({"Hi \xED\x88\xAC"})}, {"SPRP", {1, 0, 0, 0}}}));
    Strings spliced = kCopySteps;
    spliced.insert(spliced.end(), kSaveSteps.begin(), kSaveSteps.end());
    const struct { Strings args; int status; Strings out; std::string err; } cases[] = {
        {{"save", a, "--work-dir", w}, 1,
         {kSaveSteps[0], "Save failed: nothing to save for a.scm: run Copy Section first"},
         error + "nothing to save for a.scm"},
        {{"copy", a, b, "--work-dir", w}, 1, {kCopySteps[0], kCopySteps[1], kCopySteps[2], "Copy Section cancelled."},
         error + "Copying \"TILE\" between these maps makes a broken map: the maps differ in size: the map to edit is "
                 "8x8, the map to splice 9x8. (use --force to copy anyway)\n"},
        {{"copy", a, gone, "--work-dir", w}, 1,
         {kCopySteps[0], kCopySteps[1], "Copy Section failed: gone 투혼.scm: file not found"},
         error + "gone 투혼.scm: file not found"},
        {{"sections", a}, 0, {"DIM \t5\t4\tused", "TILE\t17\t10\tused", "MTXM\t35\t10\tused"}, ""},
        {{"sections", gone}, 1, {}, error + gone + ": file not found\n"},
        {{"strings", b, "--section", "SPRP"}, 0, {"SPRP\tscenario name\t1\t\"Hi \\xED\\x88\\xAC\""}, ""},
        {{"strings", b, "--section", "TILE"}, 1, {}, "holds no string numbers"},
        {{"copy", a, b, "--section", "MTXM", "--force", "--work-dir", w}, 0, kCopySteps, "warning: Copying \"MTXM\""},
        {{"save", a, "--work-dir", w}, 0, kSaveSteps, ""},
        {{"splice", a, b, "--force", "--work-dir", w}, 0, spliced, "graftwell-cli: warning: Copying \"TILE\""},
        {{"copy", a, b, "--section", "TILE", "--force", "--work-dir", w}, 0, kCopySteps, "graftwell-cli: " + kTerrainNote},
        {{}, 2, {}, "usage:"},
        {{"copy", "a", "b", "--section"}, 2, {}, "usage:"},
        {{"save", "a", "--section", "TILE"}, 2, {}, "usage:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const auto r = run(GRAFTWELL_CLI, c.args);
        std::string out;
        for (const auto& line : c.out) out += line + "\n";
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, out);
        EXPECT_THAT(r.err, ::testing::HasSubstr(c.err));
    }
    const Bytes want = makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", Bytes(6, 4)}, {"MTXM", Bytes(4, 3)}});
    EXPECT_EQ(archive::readMember(platform::fromUtf8(a), kChunkName), want);
    EXPECT_EQ(run(GRAFTWELL_CLI, {"--help"}).status, 0);
    EXPECT_THAT(run(GRAFTWELL_CLI, {"--version"}).out, ::testing::StartsWith("graftwell-cli 1."));
}

// Splices run at once with one working folder: on two maps both succeed; on one map they take turns, and the map
// ends as one of them made it, never with another map's sections.
TEST(Cli, SplicesAtOnceSharingAWorkingFolderNeverMixTheirMaps) {
    const ScratchDir dir;
    const std::string w = (dir / "w").string();
    const auto with = [](uint8_t v) { return makeChunk({{"VER ", {205, 0}}, {"SPRP", {v, 0, v, 0}}, {"UNIT", Bytes(36, 0)}}); };
    for (const char* name : {"a.scm", "b.scm"}) makeMap(dir / name, with(1), {}, {{"extra\\big.bin", pattern(300000, 7, false)}});
    for (const auto& [v, name] : {std::pair<uint8_t, const char*>{3, "s3.scm"}, {4, "s4.scm"}}) makeMap(dir / name, with(v));
    for (const bool sameMap : {false, true}) {
        SCOPED_TRACE(sameMap ? "one map" : "two maps");
        const std::string a = (dir / "a.scm").string(), b = (dir / (sameMap ? "a.scm" : "b.scm")).string();
        fixtures::Run ra, rb;
        std::thread ta([&] { ra = run(GRAFTWELL_CLI, {"splice", a, (dir / "s3.scm").string(), "--section", "SPRP", "--work-dir", w}); });
        std::thread tb([&] { rb = run(GRAFTWELL_CLI, {"splice", b, (dir / "s4.scm").string(), "--section", "SPRP", "--work-dir", w}); });
        ta.join(), tb.join();
        EXPECT_TRUE(ra.status == 0 && rb.status == 0) << ra.err << rb.err;
        const Bytes got = archive::readMember(a, kChunkName);
        EXPECT_TRUE(got == with(3) || (sameMap && got == with(4)));
        EXPECT_TRUE(sameMap || archive::readMember(b, kChunkName) == with(4));
        EXPECT_EQ(archive::readMember(a, "extra\\big.bin"), pattern(300000, 7, false));
    }
}

} // namespace
