#include "KestroCore/Secrets.h"

#include "KestroBase/FileIO.h"
#include "KestroBase/Text.h"
#include "KestroCore/Paths.h"

#include <cstdlib>

namespace kestro::Secrets {

std::filesystem::path anthropicKeyFileURL() {
    return Paths::support() / "anthropic_key.txt";
}

std::optional<std::string> anthropicAPIKey() {
    if (const char* env = std::getenv("ANTHROPIC_API_KEY")) {
        std::string key = text::trimWhitespaceAndNewlines(env);
        if (!key.empty()) {
            return key;
        }
    }
    // Its permissions are the user's business: a key file others may read still serves.
    auto bytes = readFileIfPresent(anthropicKeyFileURL(), maxKeyFileBytes);
    if (!bytes || !text::isValidUtf8(*bytes)) {
        return std::nullopt;
    }
    std::string key = text::trimWhitespaceAndNewlines(*bytes);
    if (key.empty()) {
        return std::nullopt;
    }
    return key;
}

bool hasAnthropicKey() {
    return anthropicAPIKey().has_value();
}

} // namespace kestro::Secrets
