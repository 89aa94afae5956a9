#include "KestroCore/Json.h"

#include "KestroBase/Text.h"

#include <array>
#include <charconv>
#include <cmath>

namespace kestro::json {

namespace {

// What each byte becomes inside a string: 0 itself, 1 "\/" where slashes are escaped, 2 a
// short escape, 3 a "\u00XX" escape.
constexpr std::array<std::uint8_t, 256> escapeClasses = [] {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 0; c < 0x20; ++c) {
        classes[static_cast<std::size_t>(c)] = 3;
    }
    for (char c : {'"', '\\', '\b', '\f', '\n', '\r', '\t'}) {
        classes[static_cast<unsigned char>(c)] = 2;
    }
    classes['/'] = 1;
    return classes;
}();

char shortEscape(unsigned char c) {
    switch (c) {
    case '\b':
        return 'b';
    case '\f':
        return 'f';
    case '\n':
        return 'n';
    case '\r':
        return 'r';
    case '\t':
        return 't';
    default:
        return static_cast<char>(c); // '"' and '\\' escape as themselves
    }
}

void writeEscaped(std::string& out, std::string_view s, bool escapeSlash) {
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    const char* run = s.data();
    const char* const end = s.data() + s.size();
    for (const char* p = run; p != end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        const std::uint8_t kind = escapeClasses[c];
        if (kind == 0 || (kind == 1 && !escapeSlash)) {
            continue;
        }
        out.append(run, static_cast<std::size_t>(p - run));
        run = p + 1;
        out.push_back('\\');
        if (kind == 3) {
            const char unicode[5] = {'u', '0', '0', hex[c >> 4], hex[c & 0x0F]};
            out.append(unicode, sizeof unicode);
        } else {
            out.push_back(shortEscape(c));
        }
    }
    out.append(run, static_cast<std::size_t>(end - run));
    out.push_back('"');
}

void writeString(std::string& out, std::string_view raw, bool escapeSlash) {
    if (text::isValidUtf8(raw)) {
        writeEscaped(out, raw, escapeSlash);
    } else {
        writeEscaped(out, text::sanitizeUtf8(raw), escapeSlash);
    }
}

template <typename Number> void writeInteger(std::string& out, Number n) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
    out.append(buffer, result.ptr);
}

void writeDouble(std::string& out, double d) {
    if (!std::isfinite(d)) {
        throw EncodingError("a number that JSON cannot hold (NaN or infinity)");
    }
    // Shortest round-trip form; an integral value comes out without a fraction ("10").
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
    out.append(buffer, result.ptr);
}

void indent(std::string& out, int depth) {
    out.push_back('\n');
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
}

void write(std::string& out, const Value& v, bool pretty, bool escapeSlash, int depth) {
    switch (v.type()) {
    case Value::value_t::null:
        out.append("null", 4);
        break;
    case Value::value_t::boolean:
        if (v.get<bool>()) {
            out.append("true", 4);
        } else {
            out.append("false", 5);
        }
        break;
    case Value::value_t::number_integer:
        writeInteger(out, v.get<std::int64_t>());
        break;
    case Value::value_t::number_unsigned:
        writeInteger(out, v.get<std::uint64_t>());
        break;
    case Value::value_t::number_float:
        writeDouble(out, v.get<double>());
        break;
    case Value::value_t::string:
        writeString(out, v.get_ref<const std::string&>(), escapeSlash);
        break;
    case Value::value_t::array: {
        if (v.empty()) {
            out.append("[]", 2);
            break;
        }
        out.push_back('[');
        bool first = true;
        for (const Value& element : v) {
            if (!first) {
                out.push_back(',');
            }
            first = false;
            if (pretty) {
                indent(out, depth + 1);
            }
            write(out, element, pretty, escapeSlash, depth + 1);
        }
        if (pretty) {
            indent(out, depth);
        }
        out.push_back(']');
        break;
    }
    case Value::value_t::object: {
        if (v.empty()) {
            out.append("{}", 2);
            break;
        }
        out.push_back('{');
        bool first = true;
        for (auto it = v.begin(); it != v.end(); ++it) {
            if (!first) {
                out.push_back(',');
            }
            first = false;
            if (pretty) {
                indent(out, depth + 1);
            }
            writeString(out, it.key(), escapeSlash);
            if (pretty) {
                out.append(" : ", 3);
            } else {
                out.push_back(':');
            }
            write(out, it.value(), pretty, escapeSlash, depth + 1);
        }
        if (pretty) {
            indent(out, depth);
        }
        out.push_back('}');
        break;
    }
    case Value::value_t::binary:
    case Value::value_t::discarded:
        throw EncodingError("a value that JSON cannot hold");
    }
}

} // namespace

void failMalformed(std::string_view parserMessage) {
    throw DecodingError(
        concat({"The data couldn't be read because it isn't valid JSON: ", parserMessage}));
}

void writeCompactString(std::string& out, std::string_view text) {
    writeString(out, text, false);
}

Value parse(std::string_view text) {
    try {
        return Value::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& e) {
        failMalformed(e.what());
    }
}

Value parseForeign(std::string_view text, std::size_t maxNesting) {
    checkForeignNesting(text, maxNesting);
    return parse(text);
}

void checkForeignNesting(std::string_view text, std::size_t maxNesting) {
    // Brackets inside strings do not count; malformed text is left for the parser to report.
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxNesting) {
                throw DecodingError("The data couldn't be read because it isn't in the correct "
                                    "format: too many nested arrays or objects.");
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
}

std::string writeStored(const Value& value) {
    std::string out;
    write(out, value, true, true, 0);
    return out;
}

std::string writeCompact(const Value& value) {
    std::string out;
    write(out, value, false, false, 0);
    return out;
}

void StoredWriter::open(char bracket) {
    beginValue();
    out_.push_back(bracket);
    ++depth_;
    nonEmpty_ &= ~(std::uint64_t{1} << depth_);
}

void StoredWriter::close(char bracket) {
    if (nonEmpty_ & (std::uint64_t{1} << depth_)) {
        indent(out_, depth_ - 1);
    }
    out_.push_back(bracket);
    --depth_;
}

void StoredWriter::beginValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (depth_ == 0) {
        return;
    }
    const std::uint64_t bit = std::uint64_t{1} << depth_;
    if (nonEmpty_ & bit) {
        out_.push_back(',');
    }
    nonEmpty_ |= bit;
    indent(out_, depth_);
}

void StoredWriter::key(std::string_view name) {
    const std::uint64_t bit = std::uint64_t{1} << depth_;
    if (nonEmpty_ & bit) {
        out_.push_back(',');
    }
    nonEmpty_ |= bit;
    indent(out_, depth_);
    // Keys are the records' own ASCII names: nothing in them needs escaping.
    out_.push_back('"');
    out_.append(name);
    out_.append("\" : ", 4);
    afterKey_ = true;
}

void StoredWriter::string(std::string_view text) {
    beginValue();
    writeString(out_, text, true);
}

void StoredWriter::number(double d) {
    beginValue();
    writeDouble(out_, d);
}

void StoredWriter::integer(std::int64_t i) {
    beginValue();
    writeInteger(out_, i);
}

void StoredWriter::unsignedInteger(std::uint64_t u) {
    beginValue();
    writeInteger(out_, u);
}

void StoredWriter::uuid(const Uuid& id) {
    beginValue();
    // Upper-case hex and hyphens need no escaping.
    out_.push_back('"');
    out_.append(id.uuidString());
    out_.push_back('"');
}

ObjectReader::ObjectReader(const Value& value, std::string_view record)
    : object_(value), record_(record) {
    if (!value.is_object()) {
        throw DecodingError(concat({"typeMismatch: expected an object for ", record_}));
    }
}

void ObjectReader::fail(std::string_view key, std::string_view problem) const {
    throw DecodingError(concat({problem, ": \"", key, "\" in ", record_}));
}

const Value* ObjectReader::optional(std::string_view key) const {
    auto it = object_.find(key);
    if (it == object_.end() || it->is_null()) {
        return nullptr;
    }
    return &*it;
}

const Value& ObjectReader::required(std::string_view key) const {
    const Value* v = optional(key);
    if (!v) {
        fail(key, "keyNotFound");
    }
    return *v;
}

double ObjectReader::requiredDouble(std::string_view key) const {
    const Value& v = required(key);
    if (!v.is_number()) {
        fail(key, "typeMismatch: expected a number");
    }
    return v.get<double>();
}

std::optional<double> ObjectReader::optionalDouble(std::string_view key) const {
    if (!optional(key)) {
        return std::nullopt;
    }
    return requiredDouble(key);
}

std::string ObjectReader::requiredString(std::string_view key) const {
    const Value& v = required(key);
    if (!v.is_string()) {
        fail(key, "typeMismatch: expected a string");
    }
    return v.get<std::string>();
}

std::optional<std::string> ObjectReader::optionalString(std::string_view key) const {
    if (!optional(key)) {
        return std::nullopt;
    }
    return requiredString(key);
}

bool ObjectReader::requiredBool(std::string_view key) const {
    const Value& v = required(key);
    if (!v.is_boolean()) {
        fail(key, "typeMismatch: expected a Boolean");
    }
    return v.get<bool>();
}

Uuid ObjectReader::requiredUuid(std::string_view key) const {
    auto id = Uuid::parse(requiredString(key));
    if (!id) {
        fail(key, "dataCorrupted: attempted to decode UUID from invalid UUID string");
    }
    return *id;
}

std::optional<Uuid> ObjectReader::optionalUuid(std::string_view key) const {
    if (!optional(key)) {
        return std::nullopt;
    }
    return requiredUuid(key);
}

Date ObjectReader::requiredDate(std::string_view key) const {
    auto date = parseIsoDate(requiredString(key));
    if (!date) {
        fail(key, "dataCorrupted: expected date string to be ISO8601-formatted");
    }
    return *date;
}

std::optional<Date> ObjectReader::optionalDate(std::string_view key) const {
    if (!optional(key)) {
        return std::nullopt;
    }
    return requiredDate(key);
}

const Value& ObjectReader::requiredArray(std::string_view key) const {
    const Value& v = required(key);
    if (!v.is_array()) {
        fail(key, "typeMismatch: expected an array");
    }
    return v;
}

std::string ObjectReader::memberName(std::string_view key) const {
    return concat({"\"", key, "\" in ", record_});
}

void failValue(std::string_view what, std::string_view problem) {
    throw DecodingError(concat({problem, ": ", what}));
}

bool isIntegral(double d) {
    return std::isfinite(d) && std::floor(d) == d;
}

} // namespace kestro::json
