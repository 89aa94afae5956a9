#include "KestroBase/Uuid.h"

#include <sys/random.h>

#include <cerrno>
#include <random>
#include <stdexcept>

namespace kestro {

namespace {

void fillRandom(std::uint8_t* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t got = ::getrandom(out + done, size - done, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            // getrandom is missing only on very old kernels; fall back rather than fail.
            std::random_device device;
            for (; done < size; ++done) {
                out[done] = static_cast<std::uint8_t>(device());
            }
            return;
        }
        done += static_cast<std::size_t>(got);
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isHyphenPosition(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

} // namespace

Uuid Uuid::random() {
    std::array<std::uint8_t, 16> bytes{};
    fillRandom(bytes.data(), bytes.size());
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 16> bytes{};
    std::size_t byte = 0;
    for (std::size_t i = 0; i < 36;) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        int high = hexValue(text[i]);
        int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0 || isHyphenPosition(i + 1)) {
            return std::nullopt;
        }
        bytes[byte++] = static_cast<std::uint8_t>(high * 16 + low);
        i += 2;
    }
    return Uuid(bytes);
}

std::string Uuid::uuidString() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            out.push_back('-');
        }
        out.push_back(digits[bytes_[i] >> 4]);
        out.push_back(digits[bytes_[i] & 0x0F]);
    }
    return out;
}

} // namespace kestro

std::size_t std::hash<kestro::Uuid>::operator()(const kestro::Uuid& id) const noexcept {
    std::size_t h = 14695981039346656037ULL;
    for (auto b : id.bytes()) {
        h = (h ^ b) * 1099511628211ULL;
    }
    return h;
}
