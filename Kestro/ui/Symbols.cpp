#include "Kestro/ui/Symbols.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <memory>

namespace kestro::Symbols {

namespace {

const QString resourceFolder = QStringLiteral(":/symbols/");

// Our artwork draws its lines 1.8 units wide on a 24-unit grid; heavier weights thicken them.
double strokeWidth(Weight weight) {
    switch (weight) {
    case Weight::regular:
        return 1.8;
    case Weight::medium:
        return 2.0;
    case Weight::semibold:
        return 2.25;
    case Weight::bold:
        return 2.5;
    case Weight::heavy:
        return 2.8;
    }
    return 1.8;
}

const QHash<QString, QString>& themeNames() {
    static const QHash<QString, QString> table = {
        {"xmark", "window-close"},
        {"plus.circle.fill", "list-add"},
        {"checkmark", "object-select"},
        {"exclamationmark.triangle.fill", "dialog-warning"},
        {"record.circle", "media-record"},
        {"stop.fill", "media-playback-stop"},
        {"square.stack.3d.up", "view-list"},
        {"exclamationmark.shield.fill", "security-low"},
        {"pencil", "document-edit"},
        {"play.fill", "media-playback-start"},
        {"ellipsis", "view-more"},
        {"chevron.up", "go-up"},
        {"checkmark.seal.fill", "emblem-default"},
        {"envelope", "internet-mail"},
        {"message", "internet-group-chat"},
        {"calendar", "x-office-calendar"},
        {"tablecells", "x-office-spreadsheet"},
        {"doc.text", "x-office-document"},
        {"magnifyingglass", "edit-find"},
        {"arrow.down.circle", "go-down"},
        {"paperplane", "mail-send"},
        {"camera.viewfinder", "camera-photo"},
        {"photo", "image-x-generic"},
        {"video", "video-x-generic"},
        {"music.note", "audio-x-generic"},
        {"chevron.left.forwardslash.chevron.right", "text-x-script"},
        {"trash", "user-trash"},
        {"gearshape", "preferences-system"},
        {"key", "dialog-password"},
        {"cloud.sun", "weather-few-clouds"},
        {"globe", "applications-internet"},
        {"folder", "folder"},
        {"character.bubble", "preferences-desktop-locale"},
        {"wand.and.stars", "tools-wizard"},
    };
    return table;
}

// One parsed renderer per name and weight; rendering happens on the GUI thread, but the
// self-test or a worker may ask too, so the table is guarded.
QSvgRenderer* renderer(const QString& name, Weight weight) {
    static QMutex mutex;
    static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
    const QString key = name + QLatin1Char('#') + QString::number(static_cast<int>(weight));
    QMutexLocker lock(&mutex);
    auto it = cache.find(key);
    if (it != cache.end()) {
        return it->get();
    }
    std::shared_ptr<QSvgRenderer> result;
    QFile file(resourceFolder + name + QStringLiteral(".svg"));
    if (file.open(QIODevice::ReadOnly)) {
        QByteArray svg = file.readAll();
        svg.replace("stroke-width=\"1.8\"",
                    "stroke-width=\"" + QByteArray::number(strokeWidth(weight)) + "\"");
        auto r = std::make_shared<QSvgRenderer>(svg);
        if (r->isValid()) {
            result = std::move(r);
        }
    }
    cache.insert(key, result);
    return result.get();
}

void tint(QImage& image, const QColor& color) {
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(QRect(QPoint(0, 0), image.size()), color);
}

} // namespace

QStringList names() {
    QStringList result;
    for (const QString& file : QDir(resourceFolder).entryList({"*.svg"}, QDir::Files)) {
        result << file.chopped(4);
    }
    return result;
}

bool has(const QString& name) {
    return QFile::exists(resourceFolder + name + QStringLiteral(".svg"));
}

QString themeName(const QString& name) {
    return themeNames().value(name);
}

QImage image(const QString& name, qreal size, const QColor& color, Weight weight,
             qreal devicePixelRatio) {
    const int pixels = std::max(1, static_cast<int>(std::lround(size * devicePixelRatio)));
    QImage out(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    if (QSvgRenderer* r = renderer(name, weight)) {
        QPainter p(&out);
        p.setRenderHint(QPainter::Antialiasing);
        r->render(&p, QRectF(0, 0, pixels, pixels));
    } else {
        const QString theme = themeName(name);
        const QIcon fallback = theme.isEmpty() ? QIcon() : QIcon::fromTheme(theme);
        if (fallback.isNull()) {
            return QImage();
        }
        QPainter p(&out);
        fallback.paint(&p, QRect(0, 0, pixels, pixels));
    }
    tint(out, color);
    out.setDevicePixelRatio(devicePixelRatio);
    return out;
}

void paint(QPainter& painter, const QRectF& rect, const QString& name, const QColor& color,
           Weight weight) {
    const qreal side = std::min(rect.width(), rect.height());
    if (side <= 0) {
        return;
    }
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QImage img = image(name, side, color, weight, dpr);
    if (img.isNull()) {
        return;
    }
    const QRectF target(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    painter.drawImage(target, img);
}

QIcon icon(const QString& name, const QColor& color, Weight weight) {
    QIcon result;
    for (int size : {16, 22, 24, 32, 48}) {
        for (qreal dpr : {1.0, 2.0}) {
            const QImage img = image(name, size, color, weight, dpr);
            if (!img.isNull()) {
                result.addPixmap(QPixmap::fromImage(img));
            }
        }
    }
    return result;
}

} // namespace kestro::Symbols
