#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

namespace kestro {

// The symbol images the views name (a check mark, a trash can, ...), drawn from the project's
// own monochrome artwork and tinted at use, so they look the same on every desktop. A name
// without artwork of ours falls back to the desktop icon theme, then to nothing.
namespace Symbols {

enum class Weight { regular, medium, semibold, bold, heavy };

// Every name with artwork of ours.
QStringList names();
bool has(const QString& name);

// The freedesktop icon name tried for `name` when we have no artwork, or empty.
QString themeName(const QString& name);

// The symbol, `size` logical pixels square, in `color`, at the device pixel ratio. A null
// image when neither our artwork nor the icon theme knows the name.
QImage image(const QString& name, qreal size, const QColor& color, Weight weight = Weight::regular,
             qreal devicePixelRatio = 1.0);

// Draws the symbol centred in `rect` (square, as large as fits).
void paint(QPainter& painter, const QRectF& rect, const QString& name, const QColor& color,
           Weight weight = Weight::regular);

// An icon for buttons and actions, in `color` at the usual sizes.
QIcon icon(const QString& name, const QColor& color, Weight weight = Weight::regular);

// The point size of a symbol drawn "in the system font at N pt": glyph box in logical pixels.
inline qreal sizeForFont(qreal points) {
    return points * 1.2;
}

} // namespace Symbols

} // namespace kestro
