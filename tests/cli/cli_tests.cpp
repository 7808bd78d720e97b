#include "archive.h"
#include "fixtures.h"
#include "platform.h"

#include <gmock/gmock.h>

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
    makeMap(platform::fromUtf8(b), makeChunk({{"DIM ", {9, 0, 8, 0}}, {"MTXM", Bytes(4, 3)}, {"TILE", Bytes(6, 4)}}));
    Strings spliced = withTerrainNote(kCopySteps);
    spliced.insert(spliced.end(), kSaveSteps.begin(), kSaveSteps.end());
    const struct { Strings args; int status; Strings out; std::string err; } cases[] = {
        {{"save", a, "--work-dir", w}, 1,
         {kSaveSteps[0], "Save failed: nothing to save for a.scm: run Copy Section first; nothing was changed"},
         error + "nothing to save for a.scm"},
        {{"copy", a, b, "--work-dir", w}, 1, {kCopySteps[0], kCopySteps[1], kCopySteps[2], "Copy Section cancelled."},
         error + "Copying \"TILE\" between these maps makes a broken map: the maps differ in size: the map to edit is "
                 "8x8, the map to splice 9x8. (use --force to copy anyway)\n"},
        {{"copy", a, gone, "--work-dir", w}, 1,
         {kCopySteps[0], kCopySteps[1], "Copy Section failed: gone 투혼.scm: file not found"},
         error + "gone 투혼.scm: file not found"},
        {{"sections", a}, 0, {"DIM \t5\t4\tused", "TILE\t17\t10\tused", "MTXM\t35\t10\tused"}, ""},
        {{"sections", gone}, 1, {}, error + gone + ": file not found\n"},
        {{"copy", a, b, "--section", "MTXM", "--force", "--work-dir", w}, 0, kCopySteps, "warning: Copying \"MTXM\""},
        {{"save", a, "--work-dir", w}, 0, kSaveSteps, ""},
        {{"splice", a, b, "--force", "--work-dir", w}, 0, spliced, "graftwell-cli: warning: Copying \"TILE\""},
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

} // namespace
