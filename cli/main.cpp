// graftwell-cli: Copy Section and Save from the command line, for scripts.
#include "archive.h"
#include "fileops.h"
#include "list_strings.h"
#include "view.h"
#include "platform.h"
#include "splice.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: graftwell-cli copy EDIT SPLICE [--section NAME]... [--force] [--raw] [--work-dir DIR]\n"
    "       graftwell-cli save EDIT [--work-dir DIR]\n"
    "       graftwell-cli undo EDIT [--work-dir DIR]\n"
    "       graftwell-cli splice EDIT SPLICE [--section NAME]... [--force] [--raw] [--work-dir DIR]\n"
    "       graftwell-cli sections MAP\n"
    "       graftwell-cli strings MAP [--section NAME]\n"
    "       graftwell-cli --help | --version\n";

constexpr const char* kHelp =
    "Copies one section of a map's scenario chunk file into another map.\n"
    "\n"
    "  copy EDIT SPLICE   build the spliced chunk file in the working folder:\n"
    "                     EDIT's chunk file changed so that the game reads\n"
    "                     SPLICE's section NAME in it, and the rest as before\n"
    "  save EDIT          put that chunk file into EDIT (run copy first)\n"
    "  undo EDIT          put EDIT back as it was before the last save\n"
    "  splice EDIT SPLICE copy, then save, holding EDIT for both\n"
    "  sections MAP       list MAP's sections in the order the game reads them:\n"
    "                     name, position of the length field (from 1), declared\n"
    "                     length, what the game does with it; then, for each\n"
    "                     name found more than once, how many bytes it reads\n"
    "  strings MAP        list the string fields of MAP's sections (or of\n"
    "                     --section NAME): section, place, number and text\n"
    "\n"
    "  --section NAME     section to copy (default TILE); give it several times\n"
    "                     to copy several sections in one run, e.g. the terrain:\n"
    "                     --section MTXM --section TILE --section ISOM\n"
    "  --force            copy terrain even between maps of other size or tileset\n"
    "  --raw              copy the sections' bytes alone: string numbers then\n"
    "                     name the map to edit's texts, and no sound file goes\n"
    "                     with them (by default the texts and sound files that\n"
    "                     the copied sections name are carried)\n"
    "  --work-dir DIR     folder that holds the working folder \"temp\" (default:\n"
    "                     the program's folder, or ~/.local/share/graftwell);\n"
    "                     each map to edit has its own place in it, so several\n"
    "                     runs may share it\n"
    "\n"
    "Each step's status is printed on its own line. Exit status: 0 done,\n"
    "1 failed (the reason on stderr), 2 bad usage.\n";

struct Options {
    std::string command;
    std::vector<std::string> positional;
    std::vector<std::string> sections;
    std::optional<std::string> workDir;
    bool force = false;
    bool raw = false;
};

class CliFrontEnd : public splice::FrontEnd {
public:
    CliFrontEnd(const Options& o) : o_(o) {}
    std::string mapEditPath() override { return o_.positional.at(0); }
    std::string mapSplicePath() override { return o_.positional.size() > 1 ? o_.positional[1] : ""; }
    std::vector<std::string> sectionNames() override {
        return o_.sections.empty() ? std::vector<std::string>{std::string(splice::kDefaultSection)} : o_.sections;
    }
    void setStatus(const std::string& text) override { std::cout << text << std::endl; }
    void yield() override {}
    void note(const std::string& line) override { std::cerr << "graftwell-cli: " << line << std::endl; }
    bool carryStrings() override { return !o_.raw; }
    bool confirm(const std::string& warning) override {
        if (o_.force) std::cerr << "graftwell-cli: warning: " << warning << std::endl;
        else refusedWarning = true;
        return o_.force;
    }
    bool refusedWarning = false;

private:
    const Options& o_;
};

int usage(const std::string& why) {
    std::cerr << "graftwell-cli: " << why << '\n' << kUsage;
    return 2;
}

int report(const splice::Result& r, const CliFrontEnd& fe) {
    if (r) return 0;
    std::cerr << "graftwell-cli: error: " << r.error;
    if (fe.refusedWarning) std::cerr << " (use --force to copy anyway)";
    std::cerr << std::endl;
    return 1;
}

// The chunk file of a map, or a bare chunk file (so that extracted files can be
// inspected); nothing, with the error said, when neither can be read.
std::optional<std::vector<uint8_t>> chunkOf(const std::string& map) {
    try {
        try {
            return archive::readMember(platform::fromUtf8(map), splice::kChunkMember);
        } catch (const archive::ArchiveError&) {
            if (map.size() < 4 || map.compare(map.size() - 4, 4, ".chk") != 0) throw;
            return fileops::readFile(platform::fromUtf8(map));
        }
    } catch (const std::exception& e) {
        std::cerr << "graftwell-cli: error: " << e.what() << std::endl;
        return std::nullopt;
    }
}

int listSections(const std::string& map) {
    const auto chunkFile = chunkOf(map);
    if (!chunkFile) return 1;
    const std::vector<uint8_t>& data = *chunkFile;
    try {
        const chunk::Rope file(data);
        const chunk::GameView view(file);
        for (const chunk::Instance& in : view.instances())
            std::cout << chunk::printable(in.name) << '\t' << in.pos + 5 << '\t' << in.length << '\t' << chunk::describe(in)
                      << '\n';
        for (const std::string& name : view.names()) {
            const size_t count = view.of(name).size();
            if (count < 2) continue;
            const auto loaded = view.loaded(name);
            std::cout << chunk::printable(name) << ": " << count << " instances, the game reads "
                      << (loaded ? std::to_string(loaded->size) + " bytes" : std::string("none of them")) << '\n';
        }
    } catch (const chunk::ChunkError& e) {
        std::cerr << "graftwell-cli: error: " << map << ": " << e.what() << std::endl;
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    platform::setUpConsole();
    std::vector<std::string> args = platform::utf8Arguments(argc, argv);
    if (!args.empty()) args.erase(args.begin());
    if (args.empty()) return usage("no command given");
    if (args[0] == "--help" || args[0] == "-h") {
        std::cout << kUsage << '\n' << kHelp;
        return 0;
    }
    if (args[0] == "--version") {
        std::cout << "graftwell-cli " << GRAFTWELL_VERSION << '\n';
        return 0;
    }

    Options o;
    o.command = args[0];
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--section" || a == "--work-dir") {
            if (i + 1 >= args.size()) return usage(a + " needs a value");
            (a == "--section" ? o.sections.push_back(args[++i]) : void(o.workDir = args[++i]));
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--raw") {
            o.raw = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "--") {
            return usage("unknown option " + a);
        } else {
            o.positional.push_back(a);
        }
    }

    const bool copy = o.command == "copy" || o.command == "splice";
    const size_t want = copy ? 2 : 1;
    if (!copy && o.command != "save" && o.command != "undo" && o.command != "sections" && o.command != "strings")
        return usage("unknown command " + o.command);
    if (o.positional.size() != want)
        return usage(o.command + " takes " + std::to_string(want) + (want == 1 ? " path" : " paths"));
    if (o.command == "sections") return listSections(o.positional[0]);
    if (o.command == "strings") {
        if (o.sections.size() > 1 || o.force || o.raw) return usage("strings takes at most one --section");
        std::optional<std::string> section;
        try {
            if (!o.sections.empty()) section = chunk::normalizeName(o.sections.front());
        } catch (const chunk::ChunkError& e) {
            return usage(e.what());
        }
        const auto chunkFile = chunkOf(o.positional[0]);
        return chunkFile ? cli::listStrings(*chunkFile, o.positional[0], section, std::cout, std::cerr) : 1;
    }
    if (!copy && (!o.sections.empty() || o.force || o.raw))
        return usage(o.command + " takes no --section, --force or --raw");

    const splice::WorkFolder work(o.workDir ? platform::fromUtf8(*o.workDir)
                                            : splice::defaultProgramFolder());
    CliFrontEnd fe(o);
    if (o.command == "copy") return report(splice::copySection(fe, work), fe);
    if (o.command == "splice") return report(splice::copyAndSave(fe, work), fe);
    return report(o.command == "undo" ? splice::undo(fe, work) : splice::save(fe, work), fe);
}
