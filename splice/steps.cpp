#include "steps.h"

#include "archive.h"
#include "platform.h"
#include "rules.h"

#include <algorithm>
#include <new>
#include <utility>

namespace fs = std::filesystem;

namespace splice {

namespace {

// Replaces a leading `from` in `what` with `to`.
bool relabel(std::string& what, const std::string& from, const std::string& to) {
    if (from.empty() || what.rfind(from, 0) != 0) return false;
    what = to + what.substr(from.size());
    return true;
}

} // namespace

std::string failedLine(std::string_view what, std::string_view error) {
    std::string_view why = error.substr(0, error.find('\n'));
    why = why.substr(0, why.find("; "));
    // "C:\maps\x.scx: not a map archive" reads as "x.scx: not a map archive".
    const auto separator = [](char c) { return c == '/' || c == '\\'; };
    const auto isPath = [&](std::string_view s) {
        return (!s.empty() && separator(s[0])) || (s.size() > 2 && s[1] == ':' && separator(s[2]));
    };
    if (const size_t colon = why.find(": "); colon != std::string_view::npos && isPath(why.substr(0, colon)))
        why.remove_prefix(why.substr(0, colon).find_last_of("/\\") + 1);
    return std::string(what) + " failed: " + std::string(why);
}

Result run(FrontEnd& fe, const WorkFolder& work, std::string_view what, const std::function<void()>& body,
           bool lastLineMine) {
    Result r;
    try {
        body();
        return r;
    } catch (const Quiet& e) {
        return {false, e.what(), true};
    } catch (const std::bad_alloc&) {
        r = {false, "out of memory"};
    } catch (const std::exception& e) {
        r = {false, e.what()};
    }
    // A working file means nothing to the user; the folder it is in does.
    const std::string folder = text(work.folder());
    if (r.error.rfind(folder, 0) == 0) {
        const auto colon = r.error.find(": ", folder.size());
        r.error = "the working folder " + folder + (colon == std::string::npos ? "" : r.error.substr(colon));
    }
    if (!lastLineMine) fe.setStatus(failedLine(what, r.error));
    return r;
}

void aboutMap(const fs::path& map, std::initializer_list<fs::path> copies, const std::function<void()>& f) {
    try {
        f();
    } catch (const Refusal&) {
        throw;
    } catch (const std::exception& e) {
        std::string what = e.what();
        bool named = relabel(what, text(map), mapName(map));
        for (const fs::path& c : copies) named = named || relabel(what, text(c), mapName(map));
        if (!named) throw;
        throw Refusal(what);
    }
}

std::string text(const fs::path& p) { return platform::toUtf8(p); }

std::string mapName(const fs::path& p) { return platform::toUtf8(p.filename()); }

std::string inQuotes(std::string_view name) {
    std::string out(1, '"');
    out += chunk::printable(name);
    out += '"';
    return out;
}

std::string inQuotes(const std::vector<std::string>& names, std::string_view between) {
    std::string out;
    for (const auto& n : names) {
        if (!out.empty()) out += between;
        out += inQuotes(n);
    }
    return out;
}

fs::path chosenMap(const std::string& path, const char* which) {
    if (path == kNoMapLoaded || path.empty())
        throw Refusal(std::string("no map chosen: pick the ") + which + " with Browse first");
    return platform::fromUtf8(path);
}

SectionName::SectionName(std::string_view given) {
    try {
        bytes_ = chunk::normalizeName(given);
    } catch (const chunk::ChunkError& e) {
        throw Refusal(e.what());
    }
}

CopyRequest CopyRequest::from(FrontEnd& fe) {
    CopyRequest r;
    r.editShown = fe.mapEditPath();
    r.edit = chosenMap(r.editShown, "map to edit");
    r.spliceShown = fe.mapSplicePath();
    r.splice = chosenMap(r.spliceShown, "map to splice");
    const std::vector<std::string> given = fe.sectionNames();
    if (given.empty()) throw Refusal("no section name given");
    r.carry = fe.carryStrings();
    for (const std::string& g : given) {
        const SectionName name(g);
        if (std::find(r.names.begin(), r.names.end(), name) != r.names.end())
            throw Refusal("section " + name.quoted() + " is named twice");
        r.names.push_back(name);
    }
    return r;
}

std::vector<std::string> CopyRequest::nameBytes() const {
    std::vector<std::string> out;
    for (const SectionName& n : names) out.push_back(n.bytes());
    return out;
}

std::vector<std::string> splitSectionNames(std::string_view text) {
    std::vector<std::string> names;
    std::string current;
    for (const char c : text) {
        if (c == ' ' || c == ',') {
            if (!current.empty()) names.push_back(std::exchange(current, {}));
        } else {
            current += c;
        }
    }
    if (!current.empty()) names.push_back(current);
    return names;
}

} // namespace splice
