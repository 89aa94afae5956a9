// Skill::slashCommand, kept beside the record in a file of its own.
#include "KestroBase/Text.h"
#include "KestroCore/Skill.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <vector>

namespace kestro {

namespace {

// Unicode default lower-casing, independent of the process locale.
std::u32string lowercased(std::u32string_view scalars) {
    std::vector<UChar> utf16;
    utf16.reserve(scalars.size() * 2);
    for (char32_t c : scalars) {
        if (c <= 0xFFFF) {
            utf16.push_back(static_cast<UChar>(c));
        } else {
            utf16.push_back(static_cast<UChar>(U16_LEAD(c)));
            utf16.push_back(static_cast<UChar>(U16_TRAIL(c)));
        }
    }
    std::vector<UChar> lower(utf16.size() + 16);
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = u_strToLower(lower.data(), static_cast<int32_t>(lower.size()), utf16.data(),
                                  static_cast<int32_t>(utf16.size()), "", &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        lower.resize(static_cast<std::size_t>(length));
        status = U_ZERO_ERROR;
        length = u_strToLower(lower.data(), static_cast<int32_t>(lower.size()), utf16.data(),
                              static_cast<int32_t>(utf16.size()), "", &status);
    }
    if (U_FAILURE(status)) {
        return std::u32string(scalars);
    }
    std::u32string out;
    out.reserve(static_cast<std::size_t>(length));
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U16_NEXT(lower.data(), i, length, c);
        out.push_back(static_cast<char32_t>(c));
    }
    return out;
}

bool isAlphanumeric(char32_t c) {
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) !=
           0;
}

} // namespace

std::string Skill::slashCommand() const {
    std::u32string lower = lowercased(text::decodeUtf8(name));
    std::u32string expanded;
    expanded.reserve(lower.size());
    for (char32_t c : lower) {
        if (c == U'&') {
            expanded += U"and";
        } else {
            expanded.push_back(c);
        }
    }
    std::u32string joined;
    std::u32string piece;
    auto endPiece = [&] {
        if (!piece.empty()) {
            if (!joined.empty()) {
                joined.push_back(U'-');
            }
            joined += piece;
            piece.clear();
        }
    };
    for (char32_t c : expanded) {
        if (isAlphanumeric(c)) {
            piece.push_back(c);
        } else {
            endPiece();
        }
    }
    endPiece();
    if (joined.empty()) {
        return "/skill";
    }
    // Appended rather than "/" + text, which GCC 12 at -O3 takes for an overlapping copy.
    std::string command = "/";
    command += text::encodeUtf8(joined);
    return command;
}

} // namespace kestro
