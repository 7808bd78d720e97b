// graftwell-cli strings: the string fields of a chunk file and the texts they name.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>

namespace cli {

// Lists the string fields of `section` (4 bytes, padded), or of every section that
// holds them, one a line: section, place, number, and the text in quotes (bytes
// outside printable ASCII, the backslash and the quote as \xHH) or "(no text)".
// Errors go to `err` as "graftwell-cli: error: LABEL: ..."; returns the exit status.
int listStrings(std::span<const uint8_t> chunkBytes, const std::string& label, std::optional<std::string> section,
                std::ostream& out, std::ostream& err);

} // namespace cli
