#pragma once

// The typed reader of stored documents: it reads the records straight from a parsed document,
// with the same strict rules and messages as ObjectReader, and without building a Value first.
// Only the record coders (RecordCoding.h) include it.

#include "KestroCore/Json.h"

#include <simdjson.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestro::json {

using Element = simdjson::dom::element;

namespace detail {
simdjson::dom::parser& storedParser();
void releaseLargeParser();
} // namespace detail

// Reads bytes with read(root). Returns nothing when the fast parser refuses the text: the caller
// then reads it as a Value, which decides between a DecodingError and the few forms only it
// accepts (a byte order mark, integers beyond 64 bits, nesting deeper than the fast parser's
// limit). DecodingError from read passes through.
template <typename Read>
auto readStored(std::string_view bytes, Read read) -> std::optional<decltype(read(Element{}))> {
    struct Release {
        ~Release() { detail::releaseLargeParser(); }
    } release;
    Element root;
    if (detail::storedParser().parse(bytes.data(), bytes.size()).get(root) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return read(root);
}

// The members of one object that a record knows, by the index of their key in keys. As with
// the Value reader, the last of repeated keys counts, a null member counts as absent, and
// unknown members are ignored.
template <std::size_t N> class StoredObject {
public:
    StoredObject(Element value, const std::array<std::string_view, N>& keys,
                 std::string_view record)
        : keys_(keys), record_(record) {
        simdjson::dom::object object;
        if (value.get(object) != simdjson::SUCCESS) {
            throw DecodingError(concat({"typeMismatch: expected an object for ", record}));
        }
        for (const simdjson::dom::key_value_pair member : object) {
            for (std::size_t i = 0; i < N; ++i) {
                if (member.key == keys[i]) {
                    present_[i] = !member.value.is_null();
                    values_[i] = member.value;
                    break;
                }
            }
        }
    }

    std::optional<Element> optional(std::size_t k) const {
        if (!present_[k]) {
            return std::nullopt;
        }
        return values_[k];
    }
    Element required(std::size_t k) const {
        if (!present_[k]) {
            fail(k, "keyNotFound");
        }
        return values_[k];
    }

    double requiredDouble(std::size_t k) const {
        const Element v = required(k);
        switch (v.type()) {
        case simdjson::dom::element_type::DOUBLE:
            return v.get_double().value_unsafe();
        case simdjson::dom::element_type::INT64:
            return static_cast<double>(v.get_int64().value_unsafe());
        case simdjson::dom::element_type::UINT64:
            return static_cast<double>(v.get_uint64().value_unsafe());
        default:
            fail(k, "typeMismatch: expected a number");
        }
    }

    std::string requiredString(std::size_t k) const { return std::string(requiredText(k)); }

    bool requiredBool(std::size_t k) const {
        bool b = false;
        if (required(k).get(b) != simdjson::SUCCESS) {
            fail(k, "typeMismatch: expected a Boolean");
        }
        return b;
    }

    Uuid requiredUuid(std::size_t k) const {
        auto id = Uuid::parse(requiredText(k));
        if (!id) {
            fail(k, "dataCorrupted: attempted to decode UUID from invalid UUID string");
        }
        return *id;
    }

    Date requiredDate(std::size_t k) const {
        auto date = parseIsoDate(requiredText(k));
        if (!date) {
            fail(k, "dataCorrupted: expected date string to be ISO8601-formatted");
        }
        return *date;
    }

    template <typename Int> Int requiredInt(std::size_t k) const {
        return storedInteger<Int>(required(k), memberName(k));
    }

    [[noreturn]] void fail(std::size_t k, std::string_view problem) const {
        throw DecodingError(concat({problem, ": \"", keys_[k], "\" in ", record_}));
    }
    std::string_view key(std::size_t k) const { return keys_[k]; }
    std::string memberName(std::size_t k) const {
        return concat({"\"", keys_[k], "\" in ", record_});
    }

    // A nested integer or string that is not a member, such as an element of a list.
    template <typename Int> static Int storedInteger(Element v, std::string_view what) {
        switch (v.type()) {
        case simdjson::dom::element_type::INT64:
            return checkedInteger<Int>(NumberKind::signedInteger, v.get_int64().value_unsafe(), 0,
                                       0, what);
        case simdjson::dom::element_type::UINT64:
            return checkedInteger<Int>(NumberKind::unsignedInteger, 0,
                                       v.get_uint64().value_unsafe(), 0, what);
        case simdjson::dom::element_type::DOUBLE:
            return checkedInteger<Int>(NumberKind::floating, 0, 0, v.get_double().value_unsafe(),
                                       what);
        default:
            failValue(what, "typeMismatch: expected an integer");
        }
    }

private:
    std::string_view requiredText(std::size_t k) const {
        std::string_view text;
        if (required(k).get(text) != simdjson::SUCCESS) {
            fail(k, "typeMismatch: expected a string");
        }
        return text;
    }

    const std::array<std::string_view, N>& keys_;
    std::string_view record_;
    std::array<Element, N> values_{};
    std::array<bool, N> present_{};
};

// The text of a string element, or DecodingError naming what it should have been.
inline std::string_view storedText(Element v, std::string_view what) {
    std::string_view text;
    if (v.get(text) != simdjson::SUCCESS) {
        throw DecodingError(concat({"typeMismatch: expected a string for ", what}));
    }
    return text;
}

} // namespace kestro::json
