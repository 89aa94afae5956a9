#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

// Writes through a temporary file in the same folder and renames it into place, so readers see
// the old file or the new one, never a torn one. On failure the temporary file is removed, the
// previous file is left as it was, and std::filesystem::filesystem_error is thrown.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Temporary files of writeFileAtomically carry this prefix; loaders pass over them.
inline constexpr std::string_view temporaryFilePrefix = ".kestro-tmp-";
bool isTemporaryFile(const std::filesystem::path& path);

// The whole file; throws std::filesystem::filesystem_error when it cannot be read.
std::string readFile(const std::filesystem::path& path);
// The whole file, or nothing when it cannot be read for any reason.
std::optional<std::string> readFileIfPresent(const std::filesystem::path& path);

} // namespace kestro
