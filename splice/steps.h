// What the procedures share: how a run of steps ends, the request a Copy
// Section reads from its front end once, and how paths and names read in messages.
#pragma once

#include "splice.h"

#include <functional>
#include <stdexcept>

namespace splice {

// A refusal of ours, as opposed to a platform or component failure.
class Refusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A refusal the user chose or can expect; the status line already says so.
class Quiet : public Refusal {
public:
    using Refusal::Refusal;
};

// Runs a procedure's steps: each step puts its message up first; the first
// failure ends the run with that message left in the status line.
Result run(const std::function<void()>& body);

// Archive errors on a working copy name the map the user chose instead.
void onCopyOf(const std::filesystem::path& copy, const std::filesystem::path& map, const std::function<void()>& f);

// Paths in messages and records, as UTF-8.
std::string text(const std::filesystem::path& p);
// A section name in quotes, bytes outside printable ASCII escaped.
std::string inQuotes(std::string_view name);
// The same file however it is named: for records and comparisons.
std::filesystem::path canonicalMap(const std::filesystem::path& p);

// The path a front end shows for a map; refused while no map is chosen.
std::filesystem::path chosenMap(const std::string& path, const char* which);

// Refuses, naming the file, a map that this process cannot replace.
void checkWritable(const std::filesystem::path& map);

// A section name as stored: four bytes, shorter names padded with spaces. Made
// only from a valid name.
class SectionName {
public:
    explicit SectionName(std::string_view given); // throws Refusal
    const std::string& bytes() const { return bytes_; }
    std::string quoted() const { return inQuotes(bytes_); }
    bool operator==(const SectionName&) const = default;

private:
    std::string bytes_;
};

// Copy Section's inputs, read from the front end once.
struct CopyRequest {
    std::filesystem::path edit, splice;
    std::vector<SectionName> names; // at least one, none twice

    static CopyRequest from(FrontEnd& fe); // throws Refusal
    std::vector<std::string> nameBytes() const;
};

} // namespace splice
