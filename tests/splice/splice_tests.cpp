#include "archive.h"
#include "platform.h"
#include "fixtures.h"
#include "protections.h"
#include "splice.h"
#include "steps.h"
#include "string_table.h"

#include <gmock/gmock.h>

#include <fstream>
#include <thread>
#include <regex>

namespace fs = std::filesystem;
using namespace fixtures;
using Sections = std::vector<Member>;

namespace {

// A front end that shows what a window shows: the map to splice and the section names, which a cancelled or
// failed Copy Section may set back to those of the copy it kept. It declines every warning.
struct Recorder : splice::FrontEnd {
    std::string edit, other;
    Strings sections = {"TILE"}, statuses, notes;
    bool raw = false;
    std::string mapEditPath() override { return edit; }
    std::string mapSplicePath() override { return other; }
    Strings sectionNames() override { return sections; }
    bool carryStrings() override { return !raw; }
    void note(const std::string& line) override { notes.push_back(line); }
    void setStatus(const std::string& t) override { statuses.push_back(t); }
    void yield() override {}
    bool confirm(const std::string&) override { return false; }
    std::optional<splice::CopyInputs> shownInputs() override { return splice::CopyInputs{other, sections}; }
    void showInputs(const splice::CopyInputs& c) override { other = c.spliceMap, sections = c.sections; }
};

// The map to edit and the map to splice, and what the job must produce, worked out on their sections alone.
struct Procedures : ::testing::Test {
    void SetUp() override {
        fe.edit = (dir / "edit.scm").string(), fe.other = (dir / "other.scx").string();
        makeMap(fe.edit, makeChunk(edit), {}, {{"extra\\notes.txt", Bytes(3000, 'n')}});
        makeMap(fe.other, makeChunk(other), {Codec::Implode});
    }
    Bytes replaced(std::vector<std::string> names) {
        Sections out = edit;
        for (std::string name : names) {
            name.resize(4, ' ');
            const auto named = [&](const Member& s) { return s.first == name; };
            std::ranges::find_if(out, named)->second = std::ranges::find_if(other, named)->second;
        }
        return makeChunk(out);
    }
    splice::WorkPlace place() const { return work.placeOf(fe.edit); }
    ScratchDir dir;
    splice::WorkFolder work{dir / "program" / "not yet made"};
    Recorder fe;
    Sections edit = {{"VER ", {205, 0}}, {"DIM ", {64, 0, 64, 0}}, {"ERA ", {1, 0}},
                     {"TILE", Bytes(40, 1)}, {"MTXM", Bytes(40, 2)}, {"STR ", Bytes(9, 3)}};
    Sections other = {{"VER ", {205, 0}}, {"DIM ", {64, 0, 64, 0}}, {"ERA ", {1, 0}},
                      {"MTXM", Bytes(70, 5)}, {"TILE", Bytes(70, 4)}, {"UNIT", Bytes(2, 6)}};
};

// Save keeps the map's other members and permissions, and compares content: a touched map, or one an undo put
// back, is the one Copy Section copied. A Save that finds the map holding the chunk file already (after the same
// Copy Section, or of a copy from itself) writes nothing, says so, keeps its time and the last Save to undo.
TEST_F(Procedures, CopySectionAndSaveReplaceTheSectionAndKeepTheRest) {
    // Whole seconds: Windows keeps times in steps of 100 ns.
    const auto old = std::chrono::floor<std::chrono::seconds>(fs::file_time_type::clock::now() - std::chrono::hours(1));
    fs::permissions(fe.edit, fs::perms(0640));
    const fs::perms perms = fs::status(fe.edit).permissions(); // Windows keeps only the write bit
    ASSERT_TRUE(splice::copySection(fe, work)) << fe.statuses.back();
    EXPECT_EQ(fe.statuses, kCopySteps);
    fs::last_write_time(fe.edit, old);
    fe.statuses.clear();
    ASSERT_TRUE(splice::save(fe, work)) << fe.statuses.back();
    EXPECT_EQ(fe.statuses, kSaveSteps);
    EXPECT_EQ(archive::readMember(fe.edit, kChunkName), replaced({"TILE"}));
    EXPECT_EQ(archive::readMember(fe.edit, "extra\\notes.txt"), Bytes(3000, 'n'));
    EXPECT_EQ(fs::status(fe.edit).permissions(), perms);
    const Bytes saved = readAll(fe.edit), kept = readAll(place().undoCopy());
    fs::last_write_time(fe.edit, old);
    fe.statuses.clear();
    ASSERT_TRUE(splice::save(fe, work));
    EXPECT_EQ(fe.statuses, (Strings{kSaveSteps[0], kSaveSteps[1], kSaveSteps[2],
                                    "The map already holds this; nothing was written.", kSaveSteps[3]}));
    EXPECT_TRUE(readAll(fe.edit) == saved && readAll(place().undoCopy()) == kept);
    EXPECT_EQ(fs::last_write_time(fe.edit), old);
    ASSERT_TRUE(splice::undo(fe, work) && splice::save(fe, work));
    EXPECT_EQ(readAll(fe.edit), saved);

    fe.other = fe.edit;
    ASSERT_TRUE(splice::copySection(fe, work));
    fs::last_write_time(fe.edit, old);
    fs::remove(place().undoRecord());
    ASSERT_TRUE(splice::save(fe, work));
    EXPECT_TRUE(readAll(fe.edit) == saved && fs::last_write_time(fe.edit) == old && !fs::exists(place().undoRecord()));
}

// Several names in one run, each into the result of the one before; a name given twice is refused. The chunk
// files the last Copy Section extracted from the same version of a map are taken over, from another are not.
TEST_F(Procedures, SeveralNamesAreCopiedInOneRunFromTheMapsAsTheyAreNow) {
    const auto extracted = [&] {
        return std::pair{platform::fileId(place().firstChunk()), platform::fileId(place().secondChunk())};
    };
    ASSERT_TRUE(splice::copySection(fe, work));
    const auto first = extracted();
    fe.sections = {"MTXM", "TILE"};
    ASSERT_TRUE(splice::copySection(fe, work));
    EXPECT_TRUE(extracted() == first);
    EXPECT_EQ(readAll(place().tempChunk()), replaced({"MTXM", "TILE"}));
    EXPECT_EQ(fe.notes, Strings{kTerrainNote}) << "only the first copy notes it";
    edit[5].second = Bytes(5, 9);
    makeMap(fe.edit, makeChunk(edit));
    ASSERT_TRUE(splice::copySection(fe, work));
    EXPECT_EQ(readAll(place().tempChunk()), replaced({"MTXM", "TILE"}));
    fe.sections = {"STR", "TILE", "STR "};
    EXPECT_EQ(splice::copySection(fe, work).error, "section \"STR \" is named twice");
}

// A map that changed since Save saw it is not kept for undo. Cleaning up sets the run's files aside; what the last
// Save keeps for undo stays, as does any file not of ours. They come back with the record last: a restore cut short
// leaves no record describing files that are not there, and Save then refuses instead of writing a mixture.
TEST_F(Procedures, UndoKeepsOnlyTheMapSaveSawAndCleanUpPutsTheFilesBackRecordLast) {
    ASSERT_TRUE(splice::copySection(fe, work));
    EXPECT_THROW(splice::keepForUndo(place(), fe.edit, {1, 2}), splice::Refusal);
    EXPECT_FALSE(fs::exists(place().undoRecord()));
    ASSERT_TRUE(splice::save(fe, work));
    writeAll(place().extracted(), {1});
    place().cleanUp();
    EXPECT_TRUE(fs::exists(place().undoCopy()) && fs::exists(place().undoRecord()) && fs::exists(place().extracted()));
    EXPECT_TRUE(!fs::exists(place().editCopy()) && !fs::exists(place().record()) && fs::exists(place().previous() / "~record.txt"));
    fs::create_directory(place().tempChunk()); // in the way of the restore
    EXPECT_THROW(place().restorePrevious(), std::exception);
    EXPECT_FALSE(fs::exists(place().record()));
    EXPECT_FALSE(splice::save(fe, work));
}

// Where the system will not replace a map another program holds open (Windows), Save says so and changes nothing.
// The same file by another name is the same map: its Copy Section is the one Save and Undo find. A Save also
// removes what Saves killed before their rename left beside the map, and nothing else.
TEST_F(Procedures, SaveFindsTheMapByAnyNameUnlessItIsHeldOpenAndRemovesLeftovers) {
    ASSERT_TRUE(splice::copySection(fe, work));
    const Bytes before = readAll(fe.edit);
    {
        const std::ifstream held(fe.edit, std::ios::binary);
        EXPECT_EQ(splice::save(fe, work).error, OPEN_FILES_BLOCK_REPLACE ? "edit.scm: the map is open in another "
                                                  "program; close it there and save again; nothing was changed" : "");
        EXPECT_EQ(readAll(fe.edit) == before, bool(OPEN_FILES_BLOCK_REPLACE));
    }
    const fs::path leftover = platform::createBeside(fe.edit).path(); // closed unrenamed, as by a killed Save
    writeAll(dir / ".other.scx.graftwell-notours", {1});
    Strings names = {(dir / "." / "edit.scm").string()};
    if (OPEN_FILES_BLOCK_REPLACE) { // Windows: names differ in letter case
        names.push_back((dir / "EDIT.SCM").string());
    } else {
        fs::create_symlink(dir / "edit.scm", dir / "link.scm");
        names.push_back((dir / "link.scm").string());
    }
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        fe.edit = name;
        ASSERT_TRUE(splice::save(fe, work)) << fe.statuses.back();
        EXPECT_EQ(archive::readMember(dir / "edit.scm", kChunkName), replaced({"TILE"}));
        ASSERT_TRUE(splice::undo(fe, work)) << fe.statuses.back();
    }
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::exists(dir / ".other.scx.graftwell-notours"));
    EXPECT_TRUE(OPEN_FILES_BLOCK_REPLACE || fs::is_symlink(dir / "link.scm")) << "Save replaced the link, not its map";
}

// Two maps never share working files: a Copy Section of one leaves the other's ready for Save. A procedure waits
// while another holds the map, and says so.
TEST_F(Procedures, EachMapHasAPlaceOfItsOwnThatOneProcedureHoldsAtATime) {
    ASSERT_TRUE(splice::copySection(fe, work));
    Recorder one = fe;
    fe.edit = (dir / "second.scm").string();
    makeMap(fe.edit, makeChunk(edit));
    ASSERT_TRUE(splice::copySection(fe, work));
    EXPECT_NE(work.placeOf(fe.edit).folder(), work.placeOf(one.edit).folder());
    ASSERT_TRUE(splice::save(one, work));
    EXPECT_EQ(archive::readMember(one.edit, kChunkName), replaced({"TILE"}));

    std::optional<platform::Lock> held = platform::Lock::tryTake(place().lockFile());
    ASSERT_TRUE(held);
    std::thread release([&] { std::this_thread::sleep_for(std::chrono::milliseconds(300)), held.reset(); });
    fe.statuses.clear();
    ASSERT_TRUE(splice::save(fe, work));
    release.join();
    EXPECT_EQ(first(fe.statuses, 3),
              (Strings{kSaveSteps[0], "Waiting for another Graftwell to finish with this map...", kSaveSteps[0]}));
}

Bytes snapshot(const fs::path& p) { return fs::exists(p) ? readAll(p) : Bytes{'-'}; }

// The texts the triggers name, in the order they name them, then string `also`'s, as the game resolves them.
Strings triggerTexts(const Bytes& chunkFile, uint32_t also) {
    const chunk::Rope rope(chunkFile);
    const chunk::GameView view(rope);
    const auto table = chunk::StringTable::of(view);
    Strings out;
    for (const auto& r : chunk::stringRefs("TRIG", view.loaded("TRIG")->bytes()))
        out.push_back(std::string(table->text(r.number).value_or("?")));
    out.push_back(std::string(table->text(also).value_or("?")));
    return out;
}

// Copy Section carries the texts the copied triggers name, and keeps the map to edit's own; with carrying off it
// copies the bytes alone. Sound files the triggers play go with them: a member the map to edit lacks under its own
// name, one it holds with other content under a numbered name that the trigger then names; one it holds as it is,
// and a path into the game's own data, need nothing. Members keyed by their position are re-keyed. Undo puts the
// map back as it was. A map whose strings are code is refused, naming the way to copy the bytes alone.
TEST_F(Procedures, CopySectionCarriesTheTextsAndSoundFilesTheCopiedTriggersName) {
    fe.sections = {"TRIG"};
    makeMap(fe.edit, makeChunk({{"STR ", table({"Hello", "Keep"})}, {"SPRP", {2, 0, 0, 0}}, {"TRIG", trigger({{9, 2}})}}));
    makeMap(fe.other, makeChunk({{"STR ", table({"Spawn", "Exit", "Keep"})}, {"TRIG", trigger({{9, 1}, {9, 3}, {12, 2}})}}));
    ASSERT_TRUE(splice::copySection(fe, work)) << fe.statuses.back();
    EXPECT_EQ(fe.statuses[fe.statuses.size() - 2], "Carrying 3 strings and 0 sound files from second map...");
    EXPECT_EQ(triggerTexts(readAll(place().tempChunk()), 2), (Strings{"Spawn", "Keep", "Exit", "Keep"})); // 2: SPRP's
    fe.raw = true;
    ASSERT_TRUE(splice::copySection(fe, work));
    EXPECT_EQ(triggerTexts(readAll(place().tempChunk()), 2), (Strings{"Hello", "?", "Keep", "Keep"}));

    fe.raw = false;
    const std::string boom = "staredit\\wav\\boom.wav", hum = "staredit\\wav\\hum.wav", buzz = "sound\\Misc\\Buzz.wav";
    makeMap(fe.edit, makeChunk({{"STR ", table({"Hello"})}, {"TRIG", {}}}), {},
            {{boom, Bytes(700, 'x')}, {hum, Bytes(500, 'h')}});
    makeMap(fe.other, makeChunk({{"STR ", table({boom, buzz, hum})}, {"TRIG", trigger({{8, 0, 1}, {8, 0, 2}, {7, 0, 3}})}}),
            {.encrypted = true, .adjustedKey = true}, {{boom, pattern(3000, 5)}, {hum, Bytes(500, 'h')}});
    const Bytes original = readAll(fe.edit);
    ASSERT_TRUE(splice::copySection(fe, work)) << fe.statuses.back();
    EXPECT_EQ(fe.statuses[fe.statuses.size() - 2], "Carrying 3 strings and 1 sound files from second map...");
    ASSERT_TRUE(splice::save(fe, work)) << fe.statuses.back();
    EXPECT_EQ(triggerTexts(archive::readMember(fe.edit, kChunkName), 1),
              (Strings{"staredit\\wav\\boom-2.wav", buzz, hum, "Hello"}));
    EXPECT_EQ(archive::readMember(fe.edit, "staredit\\wav\\boom-2.wav"), pattern(3000, 5));
    EXPECT_EQ(archive::readMember(fe.edit, boom), Bytes(700, 'x'));
    ASSERT_TRUE(splice::undo(fe, work));
    EXPECT_EQ(readAll(fe.edit), original);

    makeMap(fe.edit, makeChunk({{"STR ", table({"Hello", "Keep"}, 2, Bytes(12, 0x90))}, {"SPRP", {2, 0, 0, 0}}, {"TRIG", {}}}));
    const Bytes before = readAll(fe.edit);
    EXPECT_THAT(splice::copySection(fe, work).error,
                ::testing::MatchesRegex("^edit.scm: the map to edit keeps 12 bytes .* --raw copies the sections' bytes alone$"));
    EXPECT_EQ(readAll(fe.edit), before);
}

// A declined warning or a failed Copy Section keeps the last good copy's files, and the front end shows that copy
// again, so that a Save afterwards writes it.
TEST_F(Procedures, ACancelledOrFailedCopyKeepsTheLastCopyAndShowsIt) {
    ASSERT_TRUE(splice::copySection(fe, work));
    const Bytes copied = readAll(place().tempChunk());
    const auto redo = [&](const Strings& sections, const char* other) {
        fe.sections = sections, fe.other = (dir / other).string();
        EXPECT_FALSE(splice::copySection(fe, work));
        const std::string line = fe.statuses.back();
        EXPECT_TRUE(fe.other == (dir / "other.scx").string() && fe.sections == Strings{"TILE"});
        EXPECT_TRUE(splice::save(fe, work)) << fe.statuses.back();
        EXPECT_EQ(archive::readMember(fe.edit, kChunkName), copied);
        EXPECT_TRUE(splice::undo(fe, work));
        return line;
    };
    makeMap(dir / "big.scx", makeChunk({{"DIM ", {96, 0, 64, 0}}, {"MTXM", Bytes(8, 9)}}));
    EXPECT_EQ(redo({"MTXM"}, "big.scx"), "Copy Section cancelled; the last copy, \"TILE\" from other.scx, is kept for Save.");
    EXPECT_EQ(redo({"UNIT"}, "edit.scm"), "Copy Section failed: edit.scm: the map to edit has no \"UNIT\": its sections are "
                                  "\"VER \", \"DIM \", \"ERA \", \"TILE\", \"MTXM\", \"STR \"; the last copy, \"TILE\" "
                                  "from other.scx, is kept for Save.");
}

// The steps of Copy Section and of Save, by the status line each puts up.
enum Step : size_t { Deleting = 1, Copying, Extracting, GrabbingFirst, Creating, Inserting, Checking, Done = 13 };
enum SaveStep : size_t { Adding = 1 };

// Sections of the map to splice set to new data, or a map of raw chunk bytes (none: no map).
std::function<void(Procedures&)> others(std::vector<std::pair<size_t, Bytes>> sections) {
    return [=](Procedures& t) {
        for (const auto& [i, data] : sections) t.other[i].second = data;
        makeMap(t.fe.other, makeChunk(t.other), {Codec::Implode});
    };
}
std::function<void(Procedures&)> raw(std::string Recorder::*map, Bytes chunk) {
    return [=](Procedures& t) { chunk.empty() ? writeAll(t.fe.*map, Bytes(2000, 'x')) : makeMap(t.fe.*map, chunk); };
}

// A change to the maps before Copy Section (or, `saving`, between it and Save) and how the run then ends: with
// the whole chunk file, or after the step it stops at with the reason (a regular expression). A failed run
// changes neither the map nor its working copy, and the status line then says what failed.
struct Case {
    std::string name, section;
    std::function<void(Procedures&)> change;
    size_t stopsAt;
    std::string error;
    bool saving = false;
    Sections chunk = {}; // the chunk file made, when not the edit map's with the section replaced
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
struct Run : Procedures, ::testing::WithParamInterface<Case> {};

TEST_P(Run, EndsAsExpected) {
    const Case& c = GetParam();
    fe.sections = {c.section};
    if (c.saving) {
        ASSERT_TRUE(splice::copySection(fe, work));
    }
    c.change(*this);
    const Bytes map = snapshot(dir / "edit.scm"), workCopy = snapshot(place().editCopy());
    const bool hadFolder = fs::exists(work.folder());
    fe.statuses.clear();
    const auto r = c.saving ? splice::save(fe, work) : splice::copySection(fe, work);
    ASSERT_EQ(bool(r), c.stopsAt == Done) << r.error;
    if (r) {
        EXPECT_EQ(readAll(place().tempChunk()), c.chunk.empty() ? replaced({c.section}) : makeChunk(c.chunk));
        return;
    }
    ASSERT_GE(fe.statuses.size(), c.stopsAt);
    EXPECT_EQ(first(fe.statuses, c.stopsAt), first(c.saving ? kSaveSteps : kCopySteps, c.stopsAt));
    EXPECT_EQ(fe.statuses.back(), r.quiet ? "Copy Section cancelled." : splice::failedLine(c.saving ? "Save" : "Copy Section", r.error));
    // Paths as on POSIX: C:\a\b is matched as /a/b.
    std::string error = std::regex_replace(r.error, std::regex(R"(\b[A-Z]:\\)"), "/");
    std::replace(error.begin(), error.end(), '\\', '/');
    EXPECT_THAT(error, ::testing::ContainsRegex(c.error));
    EXPECT_TRUE(c.saving || c.stopsAt > Deleting || fs::exists(work.folder()) == hadFolder)
        << "refused, yet the working folder was made";
    EXPECT_TRUE(snapshot(dir / "edit.scm") == map && (!c.saving || snapshot(place().editCopy()) == workCopy));
    EXPECT_EQ(c.saving || bool(splice::save(fe, work)), c.saving) << "Save after a failed first Copy Section";
}

const auto kOtherSize = others({{1, {96, 0, 64, 0}}, {2, {4, 0}}});
const std::string kAgain = ": run Copy Section first; nothing was changed$";
INSTANTIATE_TEST_SUITE_P(
    Cases, Run,
    ::testing::ValuesIn(std::vector<Case>{
        {"FirstSection", "VER", others({{0, {206, 0, 1}}}), Done, ""},
        // The splice map's VER data holds "TILE" and a length: a byte search would copy it.
        {"DecoyInsideData", "TILE", others({{0, {'T', 'I', 'L', 'E', 2, 0, 0, 0, 9, 9}}}), Done, ""},
        {"TerrainOfOtherSizeDeclined", "TILE", kOtherSize, Extracting,
         "^Copying \"TILE\" between these maps makes a broken map: the maps differ in size: the map to edit is 64x64, "
         "the map to splice 96x64; they also differ in tileset: the map to edit has the space platform tileset, the "
         "map to splice the jungle tileset.$"},
        // The game reads only the low 3 bits of ERA (0xB409 is space platform, as 1 is) and the first 4 bytes of DIM.
        {"TerrainOfTheSameTilesetAndSize", "TILE", others({{1, {64, 0, 64, 0, 7}}, {2, {0x09, 0xB4}}}), Done, ""},
        {"FixedSizeReadAsTheGameReadsIt", "DIM", others({{1, {96, 0, 64, 0, 0}}}), Done, ""},
        {"MissingInTheMapToEdit", "UNIT", others({}), GrabbingFirst, "^edit.scm: the map to edit has no .UNIT.: its sections are"},
        {"MissingInTheMapToSplice", "STR", others({}), Checking, "^other.scx: the map to splice has no .STR .: its sections are"},
        {"TerrainMissing", "ISOM", others({}), GrabbingFirst, "^edit.scm: the map to edit has no .ISOM.: its terrain is in .MTXM., .TILE.$"},
        // The game reads what is there of a section cut off by the end of its file.
        {"SectionRunningPastItsFile", "TILE",
         [](Procedures& t) { t.other = {{"TILE", {1, 2}}}, makeMap(t.fe.other, {'T', 'I', 'L', 'E', 100, 0, 0, 0, 1, 2}); },
         Done, ""},
        {"NegativeLengthInTheMapToEdit", "TILE", raw(&Recorder::edit, {'T', 'I', 'L', 'E', 0xF0, 0xFF, 0xFF, 0xFF}), GrabbingFirst,
         "^edit.scm: the map to edit has no .TILE. that the game reads: its only one has a negative length$"},
        // Terrain drawn from three instances, each over the start of the one before, becomes the other map's.
        {"RepeatedTerrain", "MTXM",
         [](Procedures& t) {
             t.edit.insert(t.edit.begin() + 5, {{"MTXM", Bytes(90, 7)}, {"MTXM", Bytes(10, 8)}});
             makeMap(t.fe.edit, makeChunk(t.edit));
         },
         Done, "", false,
         {{"VER ", {205, 0}}, {"DIM ", {64, 0, 64, 0}}, {"ERA ", {1, 0}}, {"TILE", Bytes(40, 1)},
          {"MTXM", Bytes(40, 2)}, {"MTXM", {}}, {"MTXM", Bytes(70, 5)}, {"STR ", Bytes(9, 3)}}},
        {"NoMapToSplice", "TILE", [](Procedures& t) { t.fe.other = splice::kNoMapLoaded; }, Deleting,
         "^no map chosen: pick the map to splice with Browse first$"},
        // Errors about working files name the working folder, never the file.
        {"PlainFileNamedTemp", "TILE",
         [](Procedures& t) { fs::create_directories(t.work.programFolder()), writeAll(t.work.folder(), {7}); },
         Deleting, "^the working folder /.*/temp: cannot open the lock file: "},
        {"WorkingFileInTheWay", "TILE", [](Procedures& t) { fs::create_directories(t.place().firstChunk()); }, Extracting,
         "^the working folder /.*/temp: cannot replace: Is a directory"},
        // The map the user chose is named, not its working copy.
        {"NotAMap", "TILE", raw(&Recorder::other, {}), Extracting, "^other.scx: not a map archive"},
        {"SaveWithoutCopySection", "TILE", [](Procedures& t) { t.place().cleanUp(); }, Adding, "^nothing to save for edit.scm" + kAgain, true},
        {"SaveForAnotherMap", "TILE", [](Procedures& t) { makeMap(t.fe.edit = (t.dir / "third.scm").string(), {}); }, Adding,
         "^nothing to save for third.scm" + kAgain, true},
        {"SaveOfAMapChangedOnDisk", "TILE", raw(&Recorder::edit, {1}), Adding, "^edit.scm: the map has changed on", true},
        {"SaveWithTempChunkGone", "TILE", [](Procedures& t) { fs::remove(t.place().tempChunk()); }, Adding,
         "^nothing to save for edit.scm" + kAgain, true},
        {"SaveWithTempChunkChanged", "TILE", [](Procedures& t) { writeAll(t.place().tempChunk(), {1}); }, Adding,
         "^edit.scm: the working files of its Copy Section have changed since" + kAgain, true},
        // Save writes only what the front end shows.
        {"SaveOfAnotherSection", "TILE", [](Procedures& t) { t.fe.sections = {"MTXM"}; }, Adding,
         "^Copy Section copied .TILE. from other.scx, but the window now shows .MTXM. from other.scx: run Copy Section "
         "again; nothing was changed$", true},
        {"SaveFromAnotherMapToSplice", "TILE", [](Procedures& t) { t.fe.other = t.fe.edit; }, Adding,
         "^Copy Section copied .TILE. from other.scx, but the window now shows .TILE. from edit.scm", true},
        {"SaveOfAReadOnlyMap", "TILE", [](Procedures& t) { fs::permissions(t.fe.edit, fs::perms(0444)); }, Adding,
         "^edit.scm: the map is read-only", true}}),
    [](const auto& info) { return info.param.name; });

// Saves that write over their own earlier tail, and undoing the last Save, on every kind of protected map.
struct Undo : Procedures, ::testing::WithParamInterface<protections::Protection> {
    void SetUp() override {
        protections::make(GetParam(), map);
        for (uint32_t i = 0; i < 2; ++i)
            makeMap(dir / ("other" + std::to_string(i) + ".scm"), protections::sampleChunk(10 + i));
        original = readAll(map);
        fe.edit = map.string();
    }
    // Copy Section from one of the two other maps, then Save.
    void copyAndSave(int from) {
        fe.other = (dir / ("other" + std::to_string(from) + ".scm")).string();
        ASSERT_TRUE(splice::copySection(fe, work) && splice::save(fe, work)) << fe.statuses.back();
    }
    std::string undoError() {
        fe.statuses.clear();
        const auto r = splice::undo(fe, work);
        return r ? "" : r.error;
    }

    fs::path map = dir / "edit.scm";
    Bytes original;
};

// Twenty Saves stay within one chunk file's room and one set of tables. A second Save after the same Copy Section
// changes nothing, so the last real one stays the one undone. Undo is refused when the map changed or the working
// files are another map's, and otherwise restores the map once.
TEST_P(Undo, SavesStayWithinTheirRoomAndOnlyTheLastIsUndoneFromTheMapItLeft) {
    Bytes beforeLast;
    for (int i = 0; i < 20; ++i) {
        beforeLast = readAll(map);
        copyAndSave(i % 2);
        ASSERT_EQ(archive::readMember(map, kChunkName), readAll(place().tempChunk())) << i;
        ASSERT_EQ(archive::readMember(map, protections::kNotesName), protections::sampleNotes()) << i;
    }
    const auto m = RawMap::load(map);
    const auto& chunk = m.blocks[m.hashes[size_t(m.findHash(kChunkName))].block & 0x0FFFFFFF];
    EXPECT_LE(m.bytes.size(), original.size() + chunk.storedSize + 16 * (m.blocks.size() + (m.hashCount & 0x0FFFFFFF)));

    ASSERT_TRUE(splice::save(fe, work));
    const Bytes saved = readAll(map), kept = readAll(place().undoCopy());
    // Nothing to undo for this map is said in the status line; the rest are failures.
    const Strings failed = {"Restoring map from before last save...", "Undo failed"}, nothing = {failed[0], "Nothing to undo."};
    const std::vector<std::tuple<std::function<void()>, std::string, Strings>> cases = {
        {[&] { fe.edit = (dir / "other0.scm").string(); }, "no Save of other0.scm to undo",
         {failed[0], "Nothing to undo for other0.scm; the last Save was of edit.scm."}},
        {[&] { writeAll(map, Bytes(saved.begin(), saved.end() - 1)); }, "changed on disk since the last Save", failed},
        {[&] { writeAll(map, beforeLast); }, "already as it was before the last Save", nothing},
        {[&] { writeAll(place().undoCopy(), saved); }, "the copy kept for undo is damaged", failed},
        {[&] { fs::remove(map); }, "the map is gone", failed},
    };
    for (const auto& [spoil, why, statuses] : cases) {
        spoil();
        const Bytes before = snapshot(fe.edit);
        EXPECT_NE(undoError().find(why), std::string::npos) << why;
        EXPECT_THAT(fe.statuses, ::testing::ElementsAre(statuses[0], ::testing::StartsWith(statuses[1])));
        EXPECT_EQ(snapshot(fe.edit), before) << why;
        fe.edit = map.string();
        writeAll(map, saved);
        writeAll(place().undoCopy(), kept);
    }
    EXPECT_EQ(undoError(), "");
    EXPECT_EQ(fe.statuses, (Strings{failed[0], "Undo successful!"}));
    EXPECT_EQ(readAll(map), beforeLast);
    EXPECT_NE(undoError().find("no Save of edit.scm to undo"), std::string::npos) << "only the last Save is undone";
    EXPECT_EQ(readAll(map), beforeLast);
}

INSTANTIATE_TEST_SUITE_P(Maps, Undo, ::testing::ValuesIn(protections::all()),
                         [](const auto& info) { return info.param.name; });

} // namespace
