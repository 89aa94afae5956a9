#include "Kestro/text/BoundedText.h"

#include <algorithm>

namespace kestro {

QString boundedText(const std::string& text, qsizetype bound) {
    const std::size_t bytes = 4 * static_cast<std::size_t>(bound);
    QString out = QString::fromUtf8(text.data(), qsizetype(std::min(text.size(), bytes)));
    if (text.size() > bytes || out.size() > bound) {
        qsizetype cut = std::min(out.size(), bound);
        if (cut > 0 && out.at(cut - 1).isHighSurrogate()) {
            --cut;
        }
        out.truncate(cut);
        out.append(QChar(0x2026));
    }
    return out;
}

} // namespace kestro
