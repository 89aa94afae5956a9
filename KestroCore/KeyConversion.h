#pragma once

#include "KestroCore/Json.h"

#include <string>
#include <string_view>

namespace kestro::json {

// The snake-case key conversion applied to JSON written outside the system (the model's answer,
// the user's server file): leading and trailing underscores stay; the part between them is split
// at underscores, empty pieces dropped; with more than one piece the first is lower-cased, the
// others capitalised (first letter upper, rest lower) and all are joined. A key without an inner
// underscore is kept as written, so camel-case keys match too. Letter case is mapped for ASCII
// letters only; the keys that name fields are ASCII.
std::string convertFromSnakeCase(std::string_view key);

// A copy with every object key, at every depth, converted as above.
Value convertingKeysFromSnakeCase(const Value& value);

} // namespace kestro::json
