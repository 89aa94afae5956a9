#pragma once

#include "KestroBase/IsoDate.h"
#include "KestroBase/Uuid.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace simdjson::dom {
class element;
}

namespace kestro::json {

// One value of a stored document as the typed reader sees it (see StoredReader.h).
using Element = simdjson::dom::element;

// Objects keep their keys in a sorted map, so every writer below emits sorted keys.
using Value = nlohmann::json;

// A document that does not have the shape its reader requires.
class DecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value JSON cannot hold (NaN or an infinity).
class EncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses JSON text; malformed text (ill-formed UTF-8 included) throws DecodingError.
Value parse(std::string_view text);

// The nesting that JSON from outside the system may have: the platform decoders stop there too.
inline constexpr std::size_t maxForeignNesting = 512;
// As parse, for JSON from outside the system (the model service's replies, the user's server
// file): arrays and objects nested deeper than maxNesting throw DecodingError before anything is
// built. Copying, converting or writing a value recurses once per level, so a deeper document
// would exhaust the stack later.
Value parseForeign(std::string_view text, std::size_t maxNesting = maxForeignNesting);
// The nesting check of parseForeign alone, for readers that parse foreign text as it streams.
void checkForeignNesting(std::string_view text, std::size_t maxNesting = maxForeignNesting);
// The error parse throws for malformed text, from the parser's own message.
[[noreturn]] void failMalformed(std::string_view parserMessage);
// `text` as a JSON string, quotes included, escaped as writeCompact escapes it.
void writeCompactString(std::string& out, std::string_view text);

// The stored form: pretty-printed, sorted keys, "/" written as "\/", integral doubles without a
// fraction, other doubles in their shortest round-trip form, ill-formed UTF-8 replaced by U+FFFD.
// A non-finite number throws EncodingError and nothing is produced.
std::string writeStored(const Value& value);

// The same rules on one line, without the slash escape: for request bodies.
std::string writeCompact(const Value& value);

// The parts one after the other. Messages are built this way rather than as "text" + string,
// which GCC 12 at -O3 reports as an overlapping copy (-Wrestrict) where there is none.
inline std::string concat(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (std::string_view part : parts) {
        size += part.size();
    }
    std::string out;
    out.reserve(size);
    for (std::string_view part : parts) {
        out.append(part);
    }
    return out;
}

[[noreturn]] void failValue(std::string_view what, std::string_view problem);
bool isIntegral(double d);

// How a number was written: the readers keep integers that fit 64 bits apart from other numbers.
enum class NumberKind { signedInteger, unsignedInteger, floating };

// An integer of type Int from a number of the given kind (only the matching field counts), with
// its range checked; "5.0" and "1e2" count as integers, "1.5" does not.
template <typename Int>
Int checkedInteger(NumberKind kind, std::int64_t i, std::uint64_t u, double d,
                   std::string_view what) {
    static_assert(std::is_integral_v<Int>);
    switch (kind) {
    case NumberKind::unsignedInteger:
        if (u > static_cast<std::uint64_t>(std::numeric_limits<Int>::max())) {
            failValue(what, "number out of range");
        }
        return static_cast<Int>(u);
    case NumberKind::signedInteger:
        if constexpr (std::is_unsigned_v<Int>) {
            if (i < 0 || static_cast<std::uint64_t>(i) > std::numeric_limits<Int>::max()) {
                failValue(what, "number out of range");
            }
        } else {
            if (i < std::numeric_limits<Int>::min() || i > std::numeric_limits<Int>::max()) {
                failValue(what, "number out of range");
            }
        }
        return static_cast<Int>(i);
    case NumberKind::floating:
        break;
    }
    if (!isIntegral(d)) {
        failValue(what, "typeMismatch: expected an integer");
    }
    const long double ld = d;
    const auto min = static_cast<long double>(std::numeric_limits<Int>::min());
    // Integer texts outside the 64-bit ranges arrive as doubles, and those just below -2^63
    // round onto -2^63 itself: for a double that end of the range counts as outside.
    const bool belowRange = ld < min || (sizeof(Int) == 8 && std::is_signed_v<Int> && ld == min);
    if (belowRange || ld > static_cast<long double>(std::numeric_limits<Int>::max())) {
        failValue(what, "number out of range");
    }
    return static_cast<Int>(ld);
}

// An integer of type Int, with its range checked; "5.0" and "1e2" count as integers, "1.5" and
// "true" do not.
template <typename Int> Int integer(const Value& v, std::string_view what) {
    if (v.is_number_unsigned()) {
        return checkedInteger<Int>(NumberKind::unsignedInteger, 0, v.get<std::uint64_t>(), 0, what);
    }
    if (v.is_number_integer()) {
        return checkedInteger<Int>(NumberKind::signedInteger, v.get<std::int64_t>(), 0, 0, what);
    }
    if (v.is_number_float()) {
        return checkedInteger<Int>(NumberKind::floating, 0, 0, v.get<double>(), what);
    }
    failValue(what, "typeMismatch: expected an integer");
}

// Strict member access for records read from stored files. A null member counts as absent for
// optional members and as missing for required ones; numbers are never converted silently.
class ObjectReader {
public:
    ObjectReader(const Value& value, std::string_view record);

    const Value* optional(std::string_view key) const;
    const Value& required(std::string_view key) const;

    double requiredDouble(std::string_view key) const;
    std::optional<double> optionalDouble(std::string_view key) const;
    std::string requiredString(std::string_view key) const;
    std::optional<std::string> optionalString(std::string_view key) const;
    bool requiredBool(std::string_view key) const;
    Uuid requiredUuid(std::string_view key) const;
    std::optional<Uuid> optionalUuid(std::string_view key) const;
    Date requiredDate(std::string_view key) const;
    std::optional<Date> optionalDate(std::string_view key) const;
    const Value& requiredArray(std::string_view key) const;

    template <typename Int> Int requiredInt(std::string_view key) const {
        return integer<Int>(required(key), memberName(key));
    }
    template <typename Int> std::optional<Int> optionalInt(std::string_view key) const {
        const Value* v = optional(key);
        if (!v) {
            return std::nullopt;
        }
        return integer<Int>(*v, memberName(key));
    }

    template <typename T, typename Decode>
    std::vector<T> requiredList(std::string_view key, Decode decode) const {
        const Value& array = requiredArray(key);
        std::vector<T> out;
        out.reserve(array.size());
        for (const Value& element : array) {
            out.push_back(decode(element));
        }
        return out;
    }

    [[noreturn]] void fail(std::string_view key, std::string_view problem) const;
    std::string memberName(std::string_view key) const;

private:
    const Value& object_;
    std::string record_;
};

// Writes the stored form straight from the records, byte for byte what writeStored makes of the
// same document as a Value. Members must be given in the sorted order of their keys.
class StoredWriter {
public:
    explicit StoredWriter(std::string& out) : out_(out) {}

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }

    // The key of the next member; its value follows with one of the calls below.
    void key(std::string_view name);

    void string(std::string_view text);
    void number(double d);
    void integer(std::int64_t i);
    void unsignedInteger(std::uint64_t u);
    void boolean(bool b) { element(b ? std::string_view("true") : std::string_view("false")); }
    void uuid(const Uuid& id);
    void date(Date date) { string(formatIsoDate(date)); }

private:
    void open(char bracket);
    void close(char bracket);
    // Separates an array element from the one before it; a member's value needs nothing.
    void beginValue();
    void element(std::string_view raw) {
        beginValue();
        out_.append(raw);
    }

    std::string& out_;
    int depth_ = 0;
    bool afterKey_ = false;
    // Bit d: the container at depth d already holds an element.
    std::uint64_t nonEmpty_ = 0;
};

// Encoding helpers: optional members are written only when present.
template <typename T> void setOptional(Value& object, const char* key, const std::optional<T>& v) {
    if (v) {
        object[key] = *v;
    }
}

inline Value uuidValue(const Uuid& id) {
    return id.uuidString();
}
inline Value dateValue(Date date) {
    return formatIsoDate(date);
}

} // namespace kestro::json
