#pragma once

#include <string>
#include <vector>

namespace kestro {

// Pieces of the application's log lines.

// The name in double quotes, as it is.
std::string inQuotes(const std::string& name);
// ["a", "b"], with quotes, backslashes and control characters escaped; [] when empty.
std::string bundleArrayText(const std::vector<std::string>& ids);
// The first `count` user-perceived characters of UTF-8 text.
std::string leadingCharacters(const std::string& text, int count);

} // namespace kestro
