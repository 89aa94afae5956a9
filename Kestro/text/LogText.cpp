#include "Kestro/text/LogText.h"

#include <QString>
#include <QTextBoundaryFinder>

namespace kestro {

std::string inQuotes(const std::string& name) {
    return "\"" + name + "\"";
}

std::string bundleArrayText(const std::vector<std::string>& ids) {
    static const char* hex = "0123456789abcdef";
    std::string out = "[";
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i > 0) {
            out += ", ";
        }
        out += '"';
        for (const char c : ids[i]) {
            const auto u = static_cast<unsigned char>(c);
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7f) {
                    out += "\\u{";
                    if (u >= 0x10) {
                        out += hex[u >> 4];
                    }
                    out += hex[u & 0xf];
                    out += "}";
                } else {
                    out += c;
                }
            }
        }
        out += '"';
    }
    return out + "]";
}

std::string leadingCharacters(const std::string& text, int count) {
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    qsizetype end = 0;
    for (int n = 0; n < count; ++n) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) {
            return text;
        }
        end = next;
    }
    if (end >= s.size()) {
        return text;
    }
    return s.left(end).toStdString();
}

} // namespace kestro
