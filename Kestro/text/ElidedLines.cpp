#include "Kestro/text/ElidedLines.h"

#include <QFontMetricsF>

namespace kestro {

const QString& ElidedLines::elided(const QString& text, const QFont& font, qreal width) {
    if (font != font_) {
        cache_.clear();
        font_ = font;
    }
    if (cache_.size() > 4096) {
        cache_.clear();
    }
    Line& line = cache_[text];
    if (line.width != width) {
        line.width = width;
        QString bounded = text.size() > maxCharacters ? text.left(maxCharacters) : text;
        // No line breaks: one line of whatever the text holds.
        for (QChar& c : bounded) {
            if (c == QChar('\n') || c == QChar('\r') || c == QChar::LineSeparator ||
                c == QChar::ParagraphSeparator) {
                c = QChar(' ');
            }
        }
        const QFontMetricsF metrics(font);
        line.elided = bounded.size() < text.size() && metrics.horizontalAdvance(bounded) <= width
                          ? metrics.elidedText(bounded + QChar(0x2026), Qt::ElideRight, width)
                          : metrics.elidedText(bounded, Qt::ElideRight, width);
    }
    return line.elided;
}

QString plainToolTip(const QString& text) {
    // Markup with the text escaped: the tip can never be read as markup of its own.
    return QStringLiteral("<qt>") + text.toHtmlEscaped() + QStringLiteral("</qt>");
}

} // namespace kestro
