#pragma once

#include "KestroBase/Uuid.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace kestro {

// Where the system keeps its data. Every location is computed afresh from the environment.
namespace Paths {

inline constexpr std::string_view appName = "Kestro";

// $XDG_DATA_HOME/Kestro, or ~/.local/share/Kestro.
std::filesystem::path support();
std::filesystem::path recordings();
std::filesystem::path skills();
std::filesystem::path logs();
std::filesystem::path recording(const Uuid& id);
std::filesystem::path skill(const Uuid& id);

// Creates support, recordings, skills and logs in that order, each open to its owner alone (an
// existing one open to others is tightened); throws the first failure.
void ensureDirectories();

// The folder for `id` inside `parent`: the upper-case one when it exists, otherwise the first in
// byte order of the folders whose names equal the id ignoring letter case, otherwise the
// upper-case path.
std::filesystem::path existingFolder(const std::filesystem::path& parent, const Uuid& id);

} // namespace Paths

} // namespace kestro
