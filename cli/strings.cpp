#include "list_strings.h"

#include "carry.h"

#include <vector>

namespace cli {

int listStrings(std::span<const uint8_t> chunkBytes, const std::string& label, std::optional<std::string> section,
                std::ostream& out, std::ostream& err) {
    const auto fail = [&](const std::string& why) {
        err << "graftwell-cli: error: " << label << ": " << why << std::endl;
        return 1;
    };
    std::vector<std::string> names;
    for (const chunk::StringField& f : chunk::stringFields())
        if ((!section || f.section == *section) && (names.empty() || names.back() != f.section))
            names.emplace_back(f.section);
    if (names.empty()) {
        std::string known;
        for (const chunk::StringField& f : chunk::stringFields())
            if (known.find(f.section) == std::string::npos)
                known += (known.empty() ? "" : ", ") + std::string(f.section);
        return fail("section \"" + chunk::printable(*section) + "\" holds no string numbers; these do: " + known);
    }
    try {
        const chunk::Rope file(chunkBytes);
        const chunk::GameView view(file);
        const auto table = chunk::StringTable::of(view);
        for (const std::string& name : names) {
            const auto loaded = view.loaded(name);
            if (!loaded && section)
                return fail("the chunk file has no \"" + chunk::printable(name) + "\" section the game reads");
            const std::vector<uint8_t> bytes = loaded ? loaded->bytes() : std::vector<uint8_t>{};
            for (const chunk::StringRef& r : chunk::stringRefs(name, bytes)) {
                const auto text = table ? table->text(r.number) : std::nullopt;
                out << chunk::printable(name) << '\t' << chunk::place(r) << '\t' << r.number << '\t'
                    << (text ? chunk::quoted(*text) : std::string("(no text)")) << '\n';
            }
        }
    } catch (const chunk::ChunkError& e) {
        return fail(e.what());
    }
    return 0;
}

} // namespace cli
