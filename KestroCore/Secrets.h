#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace kestro::Secrets {

std::filesystem::path anthropicKeyFileURL();

// A larger key file is refused, as unreadable.
inline constexpr std::size_t maxKeyFileBytes = 4096;

// ANTHROPIC_API_KEY when it holds more than white space, else "anthropic_key.txt"; read afresh at
// every call, never cached.
std::optional<std::string> anthropicAPIKey();
bool hasAnthropicKey();

} // namespace kestro::Secrets
