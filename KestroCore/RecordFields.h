#pragma once

// The field tables of the stored records. Each record's coders (the Value encoder and decoder,
// the direct writer and the typed reader, see RecordCoding.h) are all made from its one table,
// so a member named there reaches every one of them. Includes no JSON library.

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <tuple>

namespace kestro::json {

// One member of a stored record: its key and where it lives. How it is coded follows from the
// member's type; a std::optional member is written only when present and may be absent or null.
template <typename Record, typename Member> struct Field {
    std::string_view key;
    Member Record::*member;
};

template <typename Record, typename Member>
constexpr Field<Record, Member> field(std::string_view key, Member Record::*member) {
    return {key, member};
}

// Specialised beside each record's coders:
//   template <> struct Fields<Point> {
//       static constexpr std::string_view name = "Point";
//       static constexpr auto members = std::tuple{field("x", &Point::x), field("y", &Point::y)};
//   };
// `name` is the record's name in error messages. Members are read in the order listed, which
// decides what a document with several faults reports; they are written in the sorted order of
// their keys whatever the order here.
template <typename Record> struct Fields;

template <typename Record>
concept StoredRecord = requires {
    Fields<Record>::name;
    Fields<Record>::members;
};

// Specialised beside an enumeration stored by its case name: `name` for error messages and
// `parse`, the case of a raw value; rawValue(e) gives the raw value of a case.
template <typename Enum> struct EnumNames;

template <typename Record>
inline constexpr std::size_t fieldCount = std::tuple_size_v<decltype(Fields<Record>::members)>;

// The keys in table order.
template <typename Record>
inline constexpr std::array<std::string_view, fieldCount<Record>> fieldKeys = std::apply(
    [](const auto&... f) { return std::array<std::string_view, sizeof...(f)>{f.key...}; },
    Fields<Record>::members);

namespace detail {
template <std::size_t N>
constexpr std::array<std::size_t, N> sortedOrder(const std::array<std::string_view, N>& keys) {
    std::array<std::size_t, N> order{};
    for (std::size_t i = 0; i < N; ++i) {
        order[i] = i;
    }
    // Byte order of the keys, as a Value's sorted map keeps them.
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    for (std::size_t i = 1; i < N; ++i) {
        if (keys[order[i - 1]] == keys[order[i]]) {
            throw "a key is named twice in one record's fields";
        }
    }
    return order;
}
} // namespace detail

// The table positions of the members in the order they are written. Computed at compile time; a
// key given twice stops the build.
template <typename Record>
inline constexpr std::array<std::size_t, fieldCount<Record>>
    writeOrder = detail::sortedOrder(fieldKeys<Record>);

} // namespace kestro::json
