#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The Unicode steps the palette's matching and the skill icons share: full default
// lower-casing (independent of the process locale), canonical composition and user-perceived
// characters. Ill-formed UTF-8 reads as U+FFFD.
namespace kestro::unicode {

// Fully lower-cased ("İ" becomes "i" plus a combining dot), then composed (NFC).
std::u16string foldedUtf16(std::string_view utf8);
// Composed (NFC) only.
std::u16string composedUtf16(std::string_view utf8);
// Fully lower-cased UTF-8, not composed.
std::string lowercasedUtf8(std::string_view utf8);

// Offsets of the extended grapheme cluster boundaries, 0 and the length included ({0} for an
// empty text).
std::vector<std::size_t> graphemeBoundaries(std::u16string_view text);

} // namespace kestro::unicode
