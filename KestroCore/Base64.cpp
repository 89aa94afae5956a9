#include "KestroCore/Base64.h"

#include <cstdint>

namespace kestro {

std::string base64Encode(std::string_view bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.resize((bytes.size() + 2) / 3 * 4);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t whole = bytes.size() / 3 * 3;
    char* o = out.data();
    for (std::size_t i = 0; i < whole; i += 3) {
        const std::uint32_t v = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) |
                                std::uint32_t{in[i + 2]};
        *o++ = alphabet[(v >> 18) & 63];
        *o++ = alphabet[(v >> 12) & 63];
        *o++ = alphabet[(v >> 6) & 63];
        *o++ = alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - whole;
    if (rest > 0) {
        std::uint32_t v = std::uint32_t{in[whole]} << 16;
        if (rest == 2) {
            v |= std::uint32_t{in[whole + 1]} << 8;
        }
        *o++ = alphabet[(v >> 18) & 63];
        *o++ = alphabet[(v >> 12) & 63];
        *o++ = rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
    return out;
}

} // namespace kestro
