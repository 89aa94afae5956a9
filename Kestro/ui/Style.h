#pragma once

#include <QColor>
#include <QEasingCurve>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QString>

#include <string>

// The look the views share: one set of colours, fonts, easing curves and label helpers, so two
// windows that mean the same colour draw the same pixels.
namespace kestro::Style {

inline QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// The system's accent colours.
inline constexpr QColor black(0, 0, 0);
inline constexpr QColor orange(255, 149, 0);
inline constexpr QColor red(255, 59, 48);
inline constexpr QColor green(52, 199, 89);
// Text on the windows' white and the palette's light material.
inline constexpr QColor primaryText(0, 0, 0, 217);
inline constexpr QColor secondaryText(0, 0, 0, 128);

// A label that shows its text as given, never as markup.
inline QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

inline void setTextColour(QWidget* widget, const QColor& color) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    widget->setPalette(p);
}

inline void setSecondary(QWidget* widget) {
    setTextColour(widget, secondaryText);
}

// A window or page drawn on white.
inline void fillWhite(QWidget* widget) {
    widget->setAutoFillBackground(true);
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, Qt::white);
    widget->setPalette(p);
}

// An image (the brand's artwork) fitted into a square of `side` logical pixels at the screen's
// density `dpr`.
inline QPixmap fittedPixmap(const QImage& image, int side, qreal dpr) {
    return QPixmap::fromImage(
        image.scaled(QSize(side, side) * dpr, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

// `font` at a size in points and a weight.
inline QFont scaled(QFont font, double points, QFont::Weight weight = QFont::Normal) {
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

inline QFont monospaced(double points, QFont::Weight weight = QFont::Normal) {
    QFont font("monospace");
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

// A button filled with `color` and white text, the look of a window's main action.
inline void makeProminent(QPushButton* button, const QColor& color) {
    button->setStyleSheet(QString("QPushButton { background: %1; color: white; border: none;"
                                  " border-radius: 7px; padding: 6px 14px; }"
                                  "QPushButton:disabled { background: rgba(0,0,0,0.25); }")
                              .arg(color.name()));
}

// A cubic Bézier timing curve from (0, 0) to (1, 1).
inline QEasingCurve bezier(qreal x1, qreal y1, qreal x2, qreal y2) {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(x1, y1), QPointF(x2, y2), QPointF(1, 1));
    return curve;
}
inline QEasingCurve easeOut() {
    return bezier(0, 0, 0.58, 1);
}
inline QEasingCurve easeIn() {
    return bezier(0.42, 0, 1, 1);
}
inline QEasingCurve easeInOut() {
    return bezier(0.42, 0, 0.58, 1);
}

} // namespace kestro::Style
