#include "KestroBase/Text.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace kestro::text {

namespace {

// Decodes one scalar at `i`; returns the number of bytes consumed, or 0 for an ill-formed
// sequence (then `skip` holds the length of its maximal subpart, at least 1).
std::size_t decodeOne(std::string_view s, std::size_t i, char32_t& out, std::size_t& skip) {
    auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    std::uint8_t b0 = byte(i);
    skip = 1;
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    std::size_t length;
    char32_t value;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        value = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        value = b0 & 0x0F;
        if (b0 == 0xE0) {
            lo = 0xA0;
        } else if (b0 == 0xED) {
            hi = 0x9F; // no surrogates
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        value = b0 & 0x07;
        if (b0 == 0xF0) {
            lo = 0x90;
        } else if (b0 == 0xF4) {
            hi = 0x8F;
        }
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= s.size()) {
            skip = k;
            return 0;
        }
        std::uint8_t b = byte(i + k);
        std::uint8_t allowedLo = k == 1 ? lo : 0x80;
        std::uint8_t allowedHi = k == 1 ? hi : 0xBF;
        if (b < allowedLo || b > allowedHi) {
            skip = k;
            return 0;
        }
        value = (value << 6) | (b & 0x3F);
    }
    out = value;
    return length;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

template <typename Pred> std::string trimBy(std::string_view s, Pred pred) {
    if (isValidUtf8(s)) {
        // Well-formed text is trimmed scalar by scalar at its ends and kept byte for byte in
        // between, without decoding the whole of it.
        std::size_t begin = 0;
        std::size_t end = s.size();
        char32_t c = 0;
        std::size_t skip = 0;
        while (begin < end) {
            std::size_t n = decodeOne(s, begin, c, skip);
            if (!pred(c)) {
                break;
            }
            begin += n;
        }
        while (end > begin) {
            std::size_t start = end - 1;
            while (start > begin && (static_cast<std::uint8_t>(s[start]) & 0xC0) == 0x80) {
                --start;
            }
            decodeOne(s, start, c, skip);
            if (!pred(c)) {
                break;
            }
            end = start;
        }
        return std::string(s.substr(begin, end - begin));
    }
    // Ill-formed sequences become U+FFFD, which is never trimmed.
    std::u32string scalars = decodeUtf8(s);
    std::size_t begin = 0;
    std::size_t end = scalars.size();
    while (begin < end && pred(scalars[begin])) {
        ++begin;
    }
    while (end > begin && pred(scalars[end - 1])) {
        --end;
    }
    return encodeUtf8(std::u32string_view(scalars).substr(begin, end - begin));
}

} // namespace

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        char32_t c;
        std::size_t skip;
        std::size_t n = decodeOne(bytes, i, c, skip);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string sanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t c;
        std::size_t skip;
        std::size_t n = decodeOne(bytes, i, c, skip);
        if (n == 0) {
            out.append(kReplacement);
            i += skip;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::u32string decodeUtf8(std::string_view bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t c;
        std::size_t skip;
        std::size_t n = decodeOne(bytes, i, c, skip);
        if (n == 0) {
            out.push_back(U'\uFFFD');
            i += skip;
        } else {
            out.push_back(c);
            i += n;
        }
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            out.append(kReplacement);
            return;
        }
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c <= 0x10FFFF) {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.append(kReplacement);
    }
}

std::string encodeUtf8(std::u32string_view scalars) {
    std::string out;
    out.reserve(scalars.size());
    for (char32_t c : scalars) {
        appendUtf8(out, c);
    }
    return out;
}

bool isWhitespace(char32_t c) {
    switch (c) {
    case 0x0009:
    case 0x0020:
    case 0x00A0:
    case 0x1680:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

bool isLineBreak(char32_t c) {
    return (c >= 0x000A && c <= 0x000D) || c == 0x0085 || c == 0x2028 || c == 0x2029;
}

bool isWhitespaceOrNewline(char32_t c) {
    return isWhitespace(c) || isLineBreak(c);
}

std::string trimWhitespace(std::string_view utf8) {
    return trimBy(utf8, isWhitespace);
}

std::string trimWhitespaceAndNewlines(std::string_view utf8) {
    return trimBy(utf8, isWhitespaceOrNewline);
}

std::string prefixScalars(std::string_view utf8, std::size_t limit) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        if (count == limit) {
            return sanitizeUtf8(utf8.substr(0, i));
        }
        char32_t c;
        std::size_t skip;
        std::size_t n = decodeOne(utf8, i, c, skip);
        i += n == 0 ? skip : n;
        ++count;
    }
    return sanitizeUtf8(utf8);
}

std::string formatOneDecimal(double value) {
    if (!std::isfinite(value)) {
        return std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
    }
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    return std::string(buffer, result.ptr);
}

} // namespace kestro::text
