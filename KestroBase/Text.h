#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestro::text {

bool isValidUtf8(std::string_view bytes);

// Valid UTF-8 with U+FFFD in place of each ill-formed subsequence.
std::string sanitizeUtf8(std::string_view bytes);

// Unicode scalars of valid UTF-8 (ill-formed bytes come out as U+FFFD).
std::u32string decodeUtf8(std::string_view bytes);
void appendUtf8(std::string& out, char32_t scalar);
std::string encodeUtf8(std::u32string_view scalars);

// Space separators and the tab: what a single-line field trims.
bool isWhitespace(char32_t c);
// isWhitespace plus every line break (LF, VT, FF, CR, U+0085, U+2028, U+2029).
bool isWhitespaceOrNewline(char32_t c);
bool isLineBreak(char32_t c);

std::string trimWhitespace(std::string_view utf8);
std::string trimWhitespaceAndNewlines(std::string_view utf8);

// At most `limit` Unicode scalars of the text, cut at a scalar boundary.
std::string prefixScalars(std::string_view utf8, std::size_t limit);

// "%.1f" whatever the process locale says about decimal points.
std::string formatOneDecimal(double value);

} // namespace kestro::text
