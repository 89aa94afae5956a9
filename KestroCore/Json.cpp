#include "KestroCore/Json.h"

#include "KestroBase/Text.h"

#include <charconv>
#include <cmath>

namespace kestro::json {

namespace {

void writeEscaped(std::string& out, std::string_view s, bool escapeSlash) {
    out.push_back('"');
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const char* escape = nullptr;
        char unicode[7];
        switch (c) {
        case '"':
            escape = "\\\"";
            break;
        case '\\':
            escape = "\\\\";
            break;
        case '/':
            escape = escapeSlash ? "\\/" : nullptr;
            break;
        case '\b':
            escape = "\\b";
            break;
        case '\f':
            escape = "\\f";
            break;
        case '\n':
            escape = "\\n";
            break;
        case '\r':
            escape = "\\r";
            break;
        case '\t':
            escape = "\\t";
            break;
        default:
            if (c < 0x20) {
                static constexpr char hex[] = "0123456789abcdef";
                unicode[0] = '\\';
                unicode[1] = 'u';
                unicode[2] = '0';
                unicode[3] = '0';
                unicode[4] = hex[c >> 4];
                unicode[5] = hex[c & 0x0F];
                unicode[6] = 0;
                escape = unicode;
            }
        }
        if (escape) {
            out.append(s.data() + run, i - run);
            out.append(escape);
            run = i + 1;
        }
    }
    out.append(s.data() + run, s.size() - run);
    out.push_back('"');
}

void writeString(std::string& out, const std::string& raw, bool escapeSlash) {
    if (text::isValidUtf8(raw)) {
        writeEscaped(out, raw, escapeSlash);
    } else {
        writeEscaped(out, text::sanitizeUtf8(raw), escapeSlash);
    }
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
        out += "null";
        break;
    case Value::value_t::boolean:
        out += v.get<bool>() ? "true" : "false";
        break;
    case Value::value_t::number_integer:
        out += std::to_string(v.get<std::int64_t>());
        break;
    case Value::value_t::number_unsigned:
        out += std::to_string(v.get<std::uint64_t>());
        break;
    case Value::value_t::number_float:
        writeDouble(out, v.get<double>());
        break;
    case Value::value_t::string:
        writeString(out, v.get_ref<const std::string&>(), escapeSlash);
        break;
    case Value::value_t::array: {
        if (v.empty()) {
            out += "[]";
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
            out += "{}";
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
            out += pretty ? " : " : ":";
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

Value parse(std::string_view text) {
    try {
        return Value::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& e) {
        throw DecodingError(std::string("The data couldn't be read because it isn't valid JSON: ") +
                            e.what());
    }
}

Value parseForeign(std::string_view text, std::size_t maxNesting) {
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
    return parse(text);
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

ObjectReader::ObjectReader(const Value& value, std::string_view record)
    : object_(value), record_(record) {
    if (!value.is_object()) {
        throw DecodingError("typeMismatch: expected an object for " + record_);
    }
}

void ObjectReader::fail(std::string_view key, std::string_view problem) const {
    throw DecodingError(std::string(problem) + ": \"" + std::string(key) + "\" in " + record_);
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
    return "\"" + std::string(key) + "\" in " + record_;
}

void failValue(std::string_view what, std::string_view problem) {
    throw DecodingError(std::string(problem) + ": " + std::string(what));
}

bool isIntegral(double d) {
    return std::isfinite(d) && std::floor(d) == d;
}

} // namespace kestro::json
