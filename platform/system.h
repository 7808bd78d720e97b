// What posix.cpp and win32.cpp give common.cpp besides platform.h: the parts of
// the leftover clean-up that differ by system.
#pragma once

#include "platform.h"

namespace platform::system {

// The folder that `target` is in, "." for a bare name.
inline Path folderOf(const Path& target) { return target.parent_path().empty() ? Path(".") : target.parent_path(); }
// The prefix of the names that createBeside() gives files beside `target`.
Path::string_type leftoverPrefix(const Path& target);
// Whether `name` is one of them: the prefix and what createBeside() puts after it.
bool isLeftoverName(const Path::string_type& name, const Path::string_type& prefix);
// Deletes the file unless a process holds it; whether it did.
bool removeUnheld(const Path& path) noexcept;

} // namespace platform::system
