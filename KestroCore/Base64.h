#pragma once

#include <string>
#include <string_view>

namespace kestro {

// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string base64Encode(std::string_view bytes);

} // namespace kestro
