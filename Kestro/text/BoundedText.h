#pragma once

#include <QString>

#include <string>

namespace kestro {

// At most `bound` characters of a UTF-8 text that may be any length, a longer one cut with "…"
// (never inside a surrogate pair); no more than 4 bytes a character are decoded.
QString boundedText(const std::string& text, qsizetype bound);

} // namespace kestro
