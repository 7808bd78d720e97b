#include "steps.h"

#include "archive.h"
#include "platform.h"
#include "rules.h"

#include <algorithm>
#include <new>

namespace fs = std::filesystem;

namespace splice {

Result run(const std::function<void()>& body) {
    try {
        body();
        return {};
    } catch (const Quiet& e) {
        return {false, e.what(), true};
    } catch (const std::bad_alloc&) {
        return {false, "out of memory"};
    } catch (const fs::filesystem_error& e) {
        // what() reads "filesystem error: <operation>: <reason> [path]"; lead with the path.
        std::string what = e.what();
        if (const auto colon = what.find(": "); colon != std::string::npos) what = what.substr(colon + 2);
        if (const auto bracket = what.rfind(" ["); bracket != std::string::npos) what.resize(bracket);
        return {false, e.path1().empty() ? what : text(e.path1()) + ": " + what};
    } catch (const std::exception& e) {
        return {false, e.what()};
    }
}

void onCopyOf(const fs::path& copy, const fs::path& map, const std::function<void()>& f) {
    try {
        f();
    } catch (const archive::ArchiveError& e) {
        std::string what = e.what();
        const std::string prefix = text(copy);
        if (what.rfind(prefix, 0) == 0) what = text(map) + what.substr(prefix.size());
        throw Refusal(what);
    }
}

std::string text(const fs::path& p) { return platform::toUtf8(p); }

std::string inQuotes(std::string_view name) {
    std::string out(1, '"');
    out += chunk::printable(name);
    out += '"';
    return out;
}

fs::path canonicalMap(const fs::path& p) { return fs::weakly_canonical(fs::absolute(p)); }

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
    r.edit = chosenMap(fe.mapEditPath(), "map to edit");
    r.splice = chosenMap(fe.mapSplicePath(), "map to splice");
    const std::vector<std::string> given = fe.sectionNames();
    if (given.empty()) throw Refusal("no section name given");
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
