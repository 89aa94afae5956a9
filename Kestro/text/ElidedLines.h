#pragma once

#include <QFont>
#include <QHash>
#include <QString>

namespace kestro {

// One line of text cut with "…" to a width. Texts are bounded before they are measured and each
// text is measured again only when it, its font or the width changes.
class ElidedLines {
public:
    // Characters of a text measured at most; a longer one is cut first.
    static constexpr int maxCharacters = 512;

    const QString& elided(const QString& text, const QFont& font, qreal width);
    void clear() { cache_.clear(); }

private:
    struct Line {
        qreal width = -1;
        QString elided;
    };
    QHash<QString, Line> cache_;
    QFont font_;
};

// A tool tip that shows `text` as written, never as markup.
QString plainToolTip(const QString& text);

} // namespace kestro
