#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

// A 128-bit identifier. Parses the canonical 8-4-4-4-12 form in either letter case and always
// prints upper case, which is how every stored file and folder name spells it.
class Uuid {
public:
    Uuid() = default;
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);

    std::string uuidString() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

} // namespace kestro

template <> struct std::hash<kestro::Uuid> {
    std::size_t operator()(const kestro::Uuid& id) const noexcept;
};
