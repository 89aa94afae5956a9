#pragma once

// The four coders of every record with a field table (RecordFields.h): to and from a Value, and
// straight to and from the stored bytes. Only the records' *Json.cpp files include it; anything
// else that does must build with the parser's own settings (link simdjson::simdjson), or its copy
// of the parser's inline code would not match the core's.

#include "KestroBase/IsoDate.h"
#include "KestroBase/Uuid.h"
#include "KestroCore/Json.h"
#include "KestroCore/RecordFields.h"
#include "KestroCore/StoredReader.h"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestro::json {

namespace detail {

template <typename T> struct OptionalOf { using type = void; };
template <typename T> struct OptionalOf<std::optional<T>> { using type = T; };
template <typename T> struct VectorOf { using type = void; };
template <typename T> struct VectorOf<std::vector<T>> { using type = T; };

template <typename T>
concept OptionalMember = !std::is_void_v<typename OptionalOf<T>::type>;
template <typename T>
concept ListMember = !std::is_void_v<typename VectorOf<T>::type>;
template <typename T>
concept Integer = std::integral<T> && !std::same_as<T, bool>;
template <typename T>
concept StoredEnum = std::is_enum_v<T> && requires {
    EnumNames<T>::name;
};

// Records whose default draws a random id start from a zero one instead, so that reading one
// draws nothing only to overwrite it.
template <typename Record> Record blank() {
    if constexpr (requires { Record{.id = Uuid{}}; }) {
        return Record{.id = Uuid{}};
    } else {
        return Record{};
    }
}

[[noreturn]] inline void failEnum(std::string_view name, std::string_view raw) {
    throw DecodingError(
        concat({"dataCorrupted: cannot initialize ", name, " from invalid String value ", raw}));
}

template <typename Enum> Enum enumFromRaw(std::string_view raw) {
    const std::optional<Enum> e = EnumNames<Enum>::parse(raw);
    if (!e) {
        failEnum(EnumNames<Enum>::name, raw);
    }
    return *e;
}

// The message for an element of a list of strings that is something else.
[[noreturn]] inline void failStringElement(std::string_view key) {
    throw DecodingError(concat({"typeMismatch: expected a string in ", key}));
}

inline std::string elementName(std::string_view key) {
    return concat({"an element of \"", key, "\""});
}

} // namespace detail

template <StoredRecord Record> Value encodeValue(const Record& record);
template <StoredRecord Record> Record decodeValue(const Value& value);
template <StoredRecord Record> void writeRecord(StoredWriter& out, const Record& record);
template <StoredRecord Record> Record readRecord(Element value);
template <StoredRecord Record> void readRecordInto(Element value, Record& record);

template <typename Enum> Enum enumFromValue(const Value& value) {
    if (!value.is_string()) {
        throw DecodingError(
            concat({"typeMismatch: expected a string for ", EnumNames<Enum>::name}));
    }
    return detail::enumFromRaw<Enum>(value.get_ref<const std::string&>());
}

template <typename Enum> Enum enumFromStored(Element value) {
    return detail::enumFromRaw<Enum>(storedText(value, EnumNames<Enum>::name));
}

namespace detail {

// To a Value.

template <typename T> Value toValue(const T& v) {
    if constexpr (std::same_as<T, Uuid>) {
        return v.uuidString();
    } else if constexpr (std::same_as<T, Date>) {
        return formatIsoDate(v);
    } else if constexpr (StoredEnum<T>) {
        return std::string(rawValue(v));
    } else if constexpr (StoredRecord<T>) {
        return encodeValue(v);
    } else if constexpr (ListMember<T>) {
        Value array = Value::array();
        for (const auto& element : v) {
            array.push_back(toValue(element));
        }
        return array;
    } else {
        static_assert(std::same_as<T, double> || std::same_as<T, bool> ||
                      std::same_as<T, std::string> || Integer<T>);
        return v;
    }
}

// From a Value: a member, then an element of a list.

template <typename T>
T elementFromValue(const Value& v, std::string_view key, std::string_view what) {
    if constexpr (StoredRecord<T>) {
        return decodeValue<T>(v);
    } else if constexpr (Integer<T>) {
        return integer<T>(v, what);
    } else {
        static_assert(std::same_as<T, std::string>);
        if (!v.is_string()) {
            failStringElement(key);
        }
        return v.get<std::string>();
    }
}

template <typename T> T memberFromValue(const ObjectReader& r, std::string_view key) {
    if constexpr (std::same_as<T, double>) {
        return r.requiredDouble(key);
    } else if constexpr (std::same_as<T, bool>) {
        return r.requiredBool(key);
    } else if constexpr (std::same_as<T, std::string>) {
        return r.requiredString(key);
    } else if constexpr (std::same_as<T, Uuid>) {
        return r.requiredUuid(key);
    } else if constexpr (std::same_as<T, Date>) {
        return r.requiredDate(key);
    } else if constexpr (Integer<T>) {
        return r.requiredInt<T>(key);
    } else if constexpr (StoredEnum<T>) {
        return enumFromValue<T>(r.required(key));
    } else if constexpr (StoredRecord<T>) {
        return decodeValue<T>(r.required(key));
    } else if constexpr (OptionalMember<T>) {
        using Inner = typename OptionalOf<T>::type;
        if (!r.optional(key)) {
            return std::nullopt;
        }
        return memberFromValue<Inner>(r, key);
    } else {
        static_assert(ListMember<T>);
        using Item = typename VectorOf<T>::type;
        const std::string what = Integer<Item> ? elementName(key) : std::string();
        return r.requiredList<Item>(
            key, [&](const Value& element) { return elementFromValue<Item>(element, key, what); });
    }
}

// Straight to the stored bytes.

template <typename T> void writeValue(StoredWriter& out, const T& v) {
    if constexpr (std::same_as<T, double>) {
        out.number(v);
    } else if constexpr (std::same_as<T, bool>) {
        out.boolean(v);
    } else if constexpr (std::same_as<T, std::string>) {
        out.string(v);
    } else if constexpr (std::same_as<T, Uuid>) {
        out.uuid(v);
    } else if constexpr (std::same_as<T, Date>) {
        out.date(v);
    } else if constexpr (Integer<T> && std::is_signed_v<T>) {
        out.integer(v);
    } else if constexpr (Integer<T>) {
        out.unsignedInteger(v);
    } else if constexpr (StoredEnum<T>) {
        out.string(rawValue(v));
    } else if constexpr (StoredRecord<T>) {
        writeRecord(out, v);
    } else {
        static_assert(ListMember<T>);
        out.beginArray();
        for (const auto& element : v) {
            writeValue(out, element);
        }
        out.endArray();
    }
}

template <typename T> void writeMember(StoredWriter& out, std::string_view key, const T& v) {
    if constexpr (OptionalMember<T>) {
        if (v) {
            out.key(key);
            writeValue(out, *v);
        }
    } else {
        out.key(key);
        writeValue(out, v);
    }
}

// Straight from a parsed document, into the members of a record made beforehand: records in
// lists and optional records are filled where they stay, never moved there.

template <typename T> void emplaceBlank(std::optional<T>& out) {
    if constexpr (StoredRecord<T>) {
        out.emplace(blank<T>());
    } else {
        out.emplace();
    }
}

template <typename T, std::size_t N>
void elementFromStored(Element v, std::string_view key, std::string_view what, T& out) {
    if constexpr (StoredRecord<T>) {
        readRecordInto(v, out);
    } else if constexpr (Integer<T>) {
        out = StoredObject<N>::template storedInteger<T>(v, what);
    } else {
        static_assert(std::same_as<T, std::string>);
        std::string_view text;
        if (v.get(text) != simdjson::SUCCESS) {
            failStringElement(key);
        }
        out = text;
    }
}

template <typename T, std::size_t N>
void memberFromStored(const StoredObject<N>& r, std::size_t k, T& out) {
    if constexpr (std::same_as<T, double>) {
        out = r.requiredDouble(k);
    } else if constexpr (std::same_as<T, bool>) {
        out = r.requiredBool(k);
    } else if constexpr (std::same_as<T, std::string>) {
        out = r.requiredString(k);
    } else if constexpr (std::same_as<T, Uuid>) {
        out = r.requiredUuid(k);
    } else if constexpr (std::same_as<T, Date>) {
        out = r.requiredDate(k);
    } else if constexpr (Integer<T>) {
        out = r.template requiredInt<T>(k);
    } else if constexpr (StoredEnum<T>) {
        out = enumFromStored<T>(r.required(k));
    } else if constexpr (StoredRecord<T>) {
        readRecordInto(r.required(k), out);
    } else if constexpr (OptionalMember<T>) {
        if (!r.optional(k)) {
            out.reset();
            return;
        }
        emplaceBlank(out);
        memberFromStored(r, k, *out);
    } else {
        static_assert(ListMember<T>);
        using Item = typename VectorOf<T>::type;
        simdjson::dom::array array;
        if (r.required(k).get(array) != simdjson::SUCCESS) {
            r.fail(k, "typeMismatch: expected an array");
        }
        const std::string_view key = r.key(k);
        const std::string what = Integer<Item> ? elementName(key) : std::string();
        out.clear();
        out.reserve(array.size());
        for (const json::Element element : array) {
            if constexpr (StoredRecord<Item>) {
                out.push_back(blank<Item>());
            } else {
                out.emplace_back();
            }
            elementFromStored<Item, N>(element, key, what, out.back());
        }
    }
}

} // namespace detail

template <StoredRecord Record> Value encodeValue(const Record& record) {
    Value v = Value::object();
    std::apply(
        [&](const auto&... f) {
            (
                [&] {
                    const auto& member = record.*f.member;
                    if constexpr (detail::OptionalMember<std::remove_cvref_t<decltype(member)>>) {
                        if (member) {
                            v[f.key] = detail::toValue(*member);
                        }
                    } else {
                        v[f.key] = detail::toValue(member);
                    }
                }(),
                ...);
        },
        Fields<Record>::members);
    return v;
}

template <StoredRecord Record> Record decodeValue(const Value& value) {
    const ObjectReader r(value, Fields<Record>::name);
    Record record = detail::blank<Record>();
    // The comma fold reads the members one after the other, in table order.
    std::apply(
        [&](const auto&... f) {
            ((record.*f.member =
                  detail::memberFromValue<std::remove_cvref_t<decltype(record.*f.member)>>(r,
                                                                                           f.key)),
             ...);
        },
        Fields<Record>::members);
    return record;
}

template <StoredRecord Record> void writeRecord(StoredWriter& out, const Record& record) {
    out.beginObject();
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (
            [&] {
                constexpr auto f = std::get<writeOrder<Record>[I]>(Fields<Record>::members);
                detail::writeMember(out, f.key, record.*f.member);
            }(),
            ...);
    }
    (std::make_index_sequence<fieldCount<Record>>{});
    out.endObject();
}

template <StoredRecord Record> void readRecordInto(Element value, Record& record) {
    constexpr std::size_t N = fieldCount<Record>;
    const StoredObject<N> r(value, fieldKeys<Record>, Fields<Record>::name);
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (detail::memberFromStored(r, I, record.*std::get<I>(Fields<Record>::members).member), ...);
    }
    (std::make_index_sequence<N>{});
}

template <StoredRecord Record> Record readRecord(Element value) {
    Record record = detail::blank<Record>();
    readRecordInto(value, record);
    return record;
}

// The stored bytes of a whole document; `reserve` bytes are set aside first.
template <StoredRecord Record>
std::string encodeStored(const Record& record, std::size_t reserve = 0) {
    std::string bytes;
    bytes.reserve(reserve);
    StoredWriter out(bytes);
    writeRecord(out, record);
    return bytes;
}

// A whole document, through the typed reader, and through a Value for what only that accepts
// (see readStored).
template <StoredRecord Record> Record decodeStored(std::string_view bytes) {
    if (auto record = readStored(bytes, readRecord<Record>)) {
        return std::move(*record);
    }
    return decodeValue<Record>(parse(bytes));
}

} // namespace kestro::json
