#include "carry.h"
#include "copy.h"
#include "fixtures.h"
#include "list_strings.h"
#include "strings_model.h"

#include <gmock/gmock.h>

#include <numeric>
#include <random>
#include <set>
#include <sstream>

using fixtures::Bytes;
using Texts = std::vector<std::optional<std::string>>;
using Sounds = std::map<std::string, std::string>;

namespace {

using fixtures::put, fixtures::table, fixtures::trigger;

Bytes plus(Bytes b, const Bytes& tail) { return b.insert(b.end(), tail.begin(), tail.end()), b; }
Bytes cat(std::initializer_list<Bytes> parts) { return std::accumulate(parts.begin(), parts.end(), Bytes{}, plus); }
Bytes sprp(uint8_t name, uint8_t description) { return {name, 0, description, 0}; }
// `size` zero bytes holding `values`, w-byte numbers, at their positions.
Bytes filled(size_t size, std::initializer_list<std::pair<size_t, uint32_t>> values, unsigned w = 2) {
    Bytes b(size);
    for (const auto& [at, v] : values)
        put(b, at, v, w);
    return b;
}

// The raw copy of `names`, then the carrying, whose result must keep the model's property.
struct Outcome {
    Bytes copied, file;
    size_t strings = 0, sounds = 0;
    std::vector<std::string> warnings;
    std::string error;
    bool code = false; // the refusal is StringsAreCode
};
Outcome carry(const Bytes& edit, const Bytes& splice, const std::vector<std::string>& names,
              const Sounds& sounds = {}) {
    Outcome o;
    o.copied = edit;
    const model::Chunk s(splice);
    for (const auto& n : names)
        o.copied = chunk::copySection(model::Chunk(o.copied).view, s.view, n).file.bytes();
    const model::Chunk c(o.copied);
    try {
        const chunk::Carried r = chunk::carryStrings(c.view, s.view, names, sounds);
        o.file = r.file.bytes(), o.strings = r.strings, o.sounds = r.sounds, o.warnings = r.warnings;
        EXPECT_EQ(model::carriedFault(o.copied, splice, names, sounds, o.file), "");
    } catch (const chunk::ChunkError& e) {
        o.error = e.what(), o.code = dynamic_cast<const chunk::StringsAreCode*>(&e);
    }
    return o;
}

TEST(StringTable, ResolvesNumbersAsTheGameDoes) {
    const struct { Bytes data; bool wide; Texts texts; } cases[] = {
        {table({"A", std::nullopt, "", "BC"}), false, {std::nullopt, "A", std::nullopt, "", "BC", std::nullopt}},
        {{1, 0, 4, 0, 'x', 'y'}, false, {std::nullopt, "xy", std::nullopt}}, // the last string runs to the end
        // 65,535 strings declared, 3 offsets held
        {{0xFF, 0xFF, 8, 0, 6, 0, 'o', 0, 'k'}, false, {std::nullopt, "k", "o", std::nullopt, std::nullopt}},
        {table({"wide", "x"}, 4), true, {std::nullopt, "wide", "x", std::nullopt}},
        {{0}, false, {std::nullopt, std::nullopt}},
    };
    for (const auto& c : cases) {
        const chunk::StringTable t(c.data, c.wide);
        const model::Views v = {{c.wide ? "STRx" : "STR ", c.data}};
        for (uint32_t k = 0; k < c.texts.size(); ++k) {
            EXPECT_EQ(t.text(k), c.texts[k]) << k;
            EXPECT_EQ(model::text(v, k), c.texts[k]) << k;
        }
    }
    // Repeated instances write over the start: the table is what the game ends up with.
    const Bytes decoy = fixtures::makeChunk({{"STR ", table({"decoy", "real"})}, {"STR ", {1, 0, 12, 0}}});
    const auto game = chunk::StringTable::of(model::Chunk(decoy).view);
    EXPECT_EQ(game->text(1), "real");
    EXPECT_EQ(game->text(2), std::nullopt);
    const Bytes both = fixtures::makeChunk({{"STR ", table({})}, {"STRx", table({}, 4)}});
    EXPECT_THROW(chunk::StringTable::of(model::Chunk(both).view), chunk::ChunkError);
}

// Every row of the table against the format's description: which fields, which action types.
TEST(StringFields, AreWhereTheFormatSaysTheyAre) {
    const std::map<std::string, std::pair<std::set<int>, std::set<int>>> uses = {
        {"TRIG", {{7, 9, 12, 17, 18, 19, 20, 21, 33, 34, 35, 36, 37, 41, 47}, {7, 8}}}, {"MBRF", {{3, 4, 8}, {2, 8}}}};
    for (const auto& [name, types] : uses)
        for (int type = 1; type < 256; ++type) { // and the actions end at the first of type 0
            std::set<uint32_t> got, want;
            for (const auto& r : chunk::stringRefs(name, trigger({{uint8_t(type), 5, 6}, {0, 7, 7}, {9, 8, 8}})))
                got.insert(r.number);
            if (types.first.count(type)) want.insert(5);
            if (types.second.count(type)) want.insert(6);
            EXPECT_EQ(got, want) << name << " action type " << type;
        }
    const Bytes trig = cat({trigger({}), trigger({{7, 5, 6}, {9, 65536}, {47, 65535}}), Bytes(2399, 1)});
    const struct { std::string name; Bytes view; std::vector<std::string> places; } cases[] = {
        {"SPRP", sprp(3, 0), {"scenario name = 3"}},
        {"FORC", filled(20, {{8, 1}, {14, 4}}), {"force 1 name = 1", "force 4 name = 4"}},
        // Unit type 0 uses its default name.
        {"UNIS", filled(4048, {{0, 1}, {3192, 7}, {3194, 8}}), {"unit type 1 name = 8"}},
        {"UNIx", filled(4168, {{0, 1}, {3192, 7}, {3194, 8}}), {"unit type 1 name = 8"}},
        {"MRGN", filled(50, {{16, 3}, {36, 9}, {46, 2}}), {"location 1 name = 3", "location 2 name = 9"}},
        {"SWNM", filled(1024, {{1020, 70000}}, 4), {"switch 256 name = 70000"}},
        {"WAV ", filled(2048, {{0, 1}, {2044, 2}}, 4), {"sound list entry 1 = 1", "sound list entry 512 = 2"}},
        {"TRIG", trig, {"trigger 2, action 1: transmission text = 5", "trigger 2, action 1: transmission sound = 6",
                        "trigger 2, action 3: comment = 65535"}},
        {"MBRF", trigger({{8, 1, 2}, {2, 3, 4}}), {"briefing trigger 1, action 1: transmission text = 1",
                                                   "briefing trigger 1, action 1: transmission sound = 2",
                                                   "briefing trigger 1, action 2: play sound = 4"}},
        {"TILE", Bytes(8, 1), {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> places;
        for (const auto& r : chunk::stringRefs(c.name, c.view))
            places.push_back(chunk::place(r) + " = " + std::to_string(r.number));
        EXPECT_EQ(places, c.places) << c.name;
        EXPECT_EQ(model::refs(c.name, c.view).size(), c.places.size()) << c.name;
        EXPECT_EQ(chunk::holdsStrings(c.name), c.name != "TILE");
    }
}

TEST(CarryStrings, ChoosesNumbersAndWritesTheTable) {
    const Bytes strings = table({"Hello", "", "Exit", "Spawn", ""});
    const Bytes edit = fixtures::makeChunk({{"STR ", strings}, {"SPRP", sprp(2, 0)}, {"TRIG", trigger({{9, 3}})}});
    const Bytes splice =
        fixtures::makeChunk({{"TRIG", trigger({{9, 1}, {9, 2}, {9, 3}, {9, 4}, {9, 9}, {12, 3}, {9, 5}})},
                             {"STR ", table({"Hello", "Spawn", "New", "Newer", "Hello"})}});
    const Outcome o = carry(edit, splice, {"TRIG"});
    ASSERT_EQ(o.error, "");
    EXPECT_EQ(o.strings, 4u);
    // Kept, the same text elsewhere, the free number (2 is the scenario's name), a new one, names nothing.
    const model::Views v = model::views(o.file);
    EXPECT_EQ(v.at("TRIG"), trigger({{9, 1}, {9, 4}, {9, 5}, {9, 6}, {9, 9}, {12, 5}, {9, 1}}));
    // The old strings move by the new offset's room; the new texts follow them.
    EXPECT_EQ(v.at("STR "), cat({{6, 0, 14, 0, 20, 0, 21, 0, 26, 0, 33, 0, 37, 0},
                                 Bytes(strings.begin() + 12, strings.end()),
                                 {'N', 'e', 'w', 0, 'N', 'e', 'w', 'e', 'r', 0}}));
    // Texts that already agree, and a copy of the table itself: the plain copy.
    for (const auto& names : {std::vector<std::string>{"TRIG"}, {"TRIG", "STR "}}) {
        const Bytes strings = names.size() > 1 ? table({"x"}) : table({"Hello", "", "", "Spawn"});
        const Bytes same = fixtures::makeChunk({{"TRIG", trigger({{9, 1}, {9, 4}, {12, 9}})}, {"STR ", strings}});
        const Outcome plain = carry(edit, same, names);
        EXPECT_EQ(plain.file, plain.copied);
        EXPECT_EQ(plain.strings, 0u);
    }
}

TEST(CarryStrings, RefusesWhereTheTableCannotTakeTheTexts) {
    const Bytes hers = fixtures::makeChunk({{"STR ", table({"new"})}, {"SPRP", sprp(1, 1)}});
    const auto edit = [](const Bytes& strings, const std::string& name = "STR ") {
        return fixtures::makeChunk({{name, strings}, {"SPRP", sprp(0, 0)}});
    };
    // Strings of 65,527 and 65,518 bytes: the new text starts at byte 65,535 or 65,536 of the table.
    const std::string fits(65527, 'x'), over(65518, 'x');
    // Where it goes through, `at` is where the scenario name's text now starts in the table.
    const struct { Bytes edit; std::string error; uint32_t at = 0; } cases[] = {
        {edit(table({"old"}, 2, Bytes(9, 0xCC))), "the map to edit keeps 9 bytes that are not zero after its last"},
        {edit(table({"old"}, 2, cat({Bytes(8, 0xCC), Bytes(100)}))), "", 18}, // after the padding, moved by 2
        {edit(table({fits, ""})), "", 65535},
        {edit(table({over, "12345678"})), "every \"STR \" string must start below byte 65,536, and with them it "
                                          "would need 65,540 bytes (it has 65,534)"},
        {edit(table({over, "12345678"}, 4), "STRx"), "", 65544},
        {edit({0x2C, 0x01, 6, 0, 'a', 0}), "declares 300 strings but holds offsets for 2"},
        {fixtures::makeChunk({{"STR ", table({})}, {"STRx", table({}, 4)}, {"SPRP", sprp(0, 0)}}),
         "the map to edit: the chunk file holds both"},
        {fixtures::makeChunk({{"SPRP", sprp(0, 0)}}), "the map to edit has no string table"},
        // A compiled map's table takes no change, but a text it has is found.
        {edit(table({"a", "new"}, 2, Bytes(20, 1))), "", 8},
    };
    for (const auto& c : cases) {
        const Outcome o = carry(c.edit, hers, {"SPRP"});
        EXPECT_THAT(o.error, ::testing::HasSubstr(c.error));
        EXPECT_EQ(o.error.empty(), c.at != 0);
        EXPECT_EQ(o.code, c.error.find("not zero") != std::string::npos);
        if (c.at) {
            const model::Chunk result(o.file);
            EXPECT_EQ(chunk::StringTable::of(result.view)->offset(result.view.loaded("SPRP")->bytes()[0]), c.at);
        }
    }
}

TEST(CarryStrings, CarriesSoundsAndWarnsOfLocationsAndSwitches) {
    const std::string a = "staredit\\wav\\a.wav", b = "staredit\\wav\\b.wav", buzz = "sound\\Misc\\Buzz.wav";
    const Bytes edit = fixtures::makeChunk({{"STR ", table({b, "Exit", "Same"})}, {"WAV ", filled(2048, {{0, 2}}, 4)},
                                            {"MRGN", filled(60, {{16, 2}, {36, 3}})}, {"SWNM", Bytes(1024)},
                                            {"TRIG", trigger({})}});
    const Bytes splice = fixtures::makeChunk(
        {{"STR ", table({a, b, buzz, "Spawn", "Same", "Door"})}, {"MRGN", filled(60, {{16, 4}, {36, 5}})},
         {"SWNM", filled(1024, {{8, 6}}, 4)},
         {"TRIG", trigger({{8, 0, 1}, {7, 5, 2, 1}, {8, 0, 3}, {13, 0, 0, 0, 4}}, {{3, 2}, {11, 0, 2}})}});
    const std::vector<std::string> names = {"TRIG"};
    EXPECT_EQ(chunk::soundPaths(model::Chunk(splice).view, names), (std::vector<std::string>{a, b, buzz}));
    const Sounds sounds = {{a, a}, {b, b + "(2)"}};
    const Outcome o = carry(edit, splice, names, sounds);
    ASSERT_EQ(o.error, "");
    EXPECT_EQ(o.sounds, 2u);
    const model::Views v = model::views(o.file);
    const auto listed = [&](size_t i) { return model::text(v, model::num(v.at("WAV "), 4 * i, 4)); };
    EXPECT_EQ((Texts{listed(0), listed(1), listed(2), listed(3)}), (Texts{"Exit", a, b + "(2)", std::nullopt}));
    EXPECT_EQ(o.warnings, (std::vector<std::string>{
                              "the copied triggers use locations whose names differ: location 1 \"Spawn\" is \"Exit\" "
                              "in the map to edit",
                              "the copied triggers use switches whose names differ: switch 3 \"Door\" is (no name) in "
                              "the map to edit"}));
    EXPECT_EQ(carry(edit, splice, {"TRIG", "MRGN", "SWNM"}, sounds).warnings, std::vector<std::string>{});
    // Triggers that use many locations whose names differ: eight are named, the rest counted.
    std::vector<fixtures::Act> many;
    Bytes named(200);
    for (uint32_t k = 1; k <= 10; ++k)
        many.push_back({7, 0, 0, k}), put(named, 20 * k - 4, 1, 2);
    const Bytes far = fixtures::makeChunk({{"STR ", table({"Spawn"})}, {"MRGN", Bytes(200)}, {"TRIG", trigger(many)}});
    const Bytes near = fixtures::makeChunk({{"STR ", table({"Spawn"})}, {"MRGN", named}, {"TRIG", trigger({})}});
    EXPECT_THAT(carry(near, far, names).warnings,
                ::testing::ElementsAre(
                    ::testing::EndsWith("location 8 (no name) is \"Spawn\" in the map to edit; and 2 more")));
}

// Seeded maps with every string section, shared and past-the-end texts, numbers past
// the count, texts read from the offsets, repeated tables, padding and code after the strings.
Bytes randomMap(std::mt19937& rng) {
    static const std::string pool[] = {"", "Hello", "Spawn", "Exit", "\xC7\xD1\xB1\xDB", "a\"b\\c",
                                       "staredit\\wav\\a.wav", "staredit\\wav\\b.wav", "sound\\Misc\\Buzz.wav"};
    const unsigned w = rng() % 4 ? 2 : 4;
    Texts texts(1 + rng() % 14);
    for (auto& t : texts)
        if (rng() % 8)
            t = pool[rng() % std::size(pool)];
    Bytes strings = table(texts, w, rng() % 3 ? Bytes(rng() % 12) : Bytes(rng() % 12, uint8_t(1 + rng() % 9)));
    if (rng() % 5 == 0) // a number whose text starts in the count or the offsets
        put(strings, w * (1 + rng() % texts.size()), uint32_t(rng() % (w + w * texts.size())), w);
    std::vector<fixtures::Member> sections;
    if (rng() % 4 == 0) { // a decoy covered by a later instance
        Bytes decoy = strings;
        std::fill(decoy.begin(), decoy.begin() + long(decoy.size() / 2), 0xEE);
        sections = {{w == 2 ? "STR " : "STRx", decoy}, {"VER ", {1, 0}}};
        strings.resize(decoy.size() / 2);
    }
    sections.push_back({w == 2 ? "STR " : "STRx", strings});
    const std::map<std::string, size_t> sizes = {{"SPRP", 4}, {"FORC", 20}, {"UNIS", 4048}, {"UNIx", 4168},
                                                 {"MRGN", 20 * (1 + rng() % 5)}, {"SWNM", 1024}, {"WAV ", 2048},
                                                 {"TRIG", 2400 * (1 + rng() % 3) + rng() % 2 * 7}, {"MBRF", 2400}};
    static const uint8_t types[] = {0, 2, 3, 4, 7, 8, 8, 9, 9, 10, 11, 12, 13, 17, 41, 47};
    for (const auto& [name, size] : sizes) {
        if (rng() % 4 == 0)
            continue;
        Bytes b(size);
        for (const chunk::StringField& f : chunk::stringFields())
            for (size_t r = 0; f.section == name && (r + 1) * (f.record ? f.record : size) <= size; ++r)
                for (uint32_t i = 0; i < f.count; ++i) {
                    const size_t slot = r * f.record + f.at + i * f.stride;
                    if (f.actions && f.field == 4) // the first action is not the end of the list
                        b[slot + 26] = types[i == 0 ? 1 + rng() % 15 : rng() % 16];
                    if (f.useDefault) b[i] = rng() % 3 == 0;
                    if (rng() % 2) put(b, slot + f.field, rng() % (texts.size() + 3), f.width);
                    if (f.actions && f.field == 4) put(b, slot, rng() % 6, 4), put(b, slot + 20, rng() % 5, 4);
                }
        sections.push_back({name, b});
    }
    std::shuffle(sections.begin() + 1, sections.end(), rng);
    return fixtures::makeChunk(sections);
}

TEST(CarryStrings, HoldsOnSeededRandomMaps) {
    std::mt19937 rng(20261209);
    size_t carried = 0, code = 0, refused = 0;
    for (int round = 0; round < 400; ++round) {
        const Bytes edit = randomMap(rng), splice = randomMap(rng);
        const model::Views ve = model::views(edit), vs = model::views(splice);
        std::vector<std::string> names;
        for (const auto& [name, b] : vs)
            if (ve.count(name) && (chunk::holdsStrings(name) || name == "STR ") && rng() % 3 == 0)
                names.push_back(name);
        if (names.empty())
            continue;
        Sounds sounds;
        for (const auto& path : chunk::soundPaths(model::Chunk(splice).view, names))
            if (rng() % 3)
                sounds[path] = rng() % 2 ? path : path + "(2)";
        SCOPED_TRACE("round " + std::to_string(round));
        const Outcome o = carry(edit, splice, names, sounds);
        (o.error.empty() ? carried : o.code ? code : refused) += 1;
        EXPECT_TRUE(o.error.empty() || o.code || o.error.find("bytes (it has") != std::string::npos) << o.error;
        EXPECT_EQ(carry(edit, edit, names).file, edit);
    }
    EXPECT_GT(carried, 10 * (code + refused)) << carried << " carried, " << code << " code, " << refused << " refused";
}

TEST(ListStrings, ShowsPlaceNumberAndText) {
    const Bytes file = fixtures::makeChunk(
        {{"STR ", table({"Hi\n", "a\\b\"c"})}, {"SPRP", sprp(1, 2)}, {"TRIG", trigger({{9, 2}, {9, 7}})}});
    const auto list = [&](std::optional<std::string> section) {
        std::ostringstream out, err;
        return std::tuple{cli::listStrings(file, "m.chk", section, out, err), out.str(), err.str()}; // the call first
    };
    const std::string trig = "TRIG\ttrigger 1, action 1: display text\t2\t\"a\\x5Cb\\x22c\"\n"
                             "TRIG\ttrigger 1, action 2: display text\t7\t(no text)\n";
    EXPECT_EQ(list(std::nullopt), std::tuple(0, "SPRP\tscenario name\t1\t\"Hi\\x0A\"\nSPRP\tscenario description\t2\t"
                                                "\"a\\x5Cb\\x22c\"\n" + trig, ""));
    EXPECT_EQ(list("TRIG"), std::tuple(0, trig, ""));
    EXPECT_EQ(list("MBRF"), std::tuple(1, "", "graftwell-cli: error: m.chk: the chunk file has no \"MBRF\" section the "
                                              "game reads\n"));
    EXPECT_THAT(std::get<2>(list("TILE")), ::testing::HasSubstr("\"TILE\" holds no string numbers; these do: SPRP, "));
}

} // namespace
