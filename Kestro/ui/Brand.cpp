#include "Kestro/ui/Brand.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifndef KESTRO_BUILD_BUNDLE_PATH
#define KESTRO_BUILD_BUNDLE_PATH ""
#endif
#ifndef KESTRO_INSTALLED_BUNDLE_FOLDER
#define KESTRO_INSTALLED_BUNDLE_FOLDER "../share/kestro"
#endif

namespace kestro::Brand {

namespace {

constexpr int menuBarSize = 18;
constexpr int menuBarDensity = 2;

} // namespace

Images::Images(QString bundleRoot) : root_(std::move(bundleRoot)) {}

std::optional<QImage> Images::load(const QString& name) const {
    QImageReader reader(QDir(root_).filePath(name + QStringLiteral(".png")), "png");
    QImage image = reader.read();
    if (image.isNull()) {
        return std::nullopt;
    }
    return image;
}

const std::optional<QImage>& Images::get(Slot& slot, const char* name) const {
    std::call_once(slot.once, [&] { slot.image = load(QString::fromLatin1(name)); });
    return slot.image;
}

const std::optional<QImage>& Images::icon() const {
    return get(icon_, "kestro-icon");
}
const std::optional<QImage>& Images::mark() const {
    return get(mark_, "kestro-mark");
}
const std::optional<QImage>& Images::iconOpaque() const {
    return get(iconOpaque_, "kestro-icon-bg");
}
const std::optional<QImage>& Images::appIcon() const {
    return get(appIcon_, "kestro-appicon");
}

const std::optional<QImage>& Images::menuBarImage() const {
    std::call_once(menuBar_.once, [&] {
        // A load of its own: the mark slot is neither used nor filled.
        const std::optional<QImage> source = load(QStringLiteral("kestro-mark"));
        if (!source) {
            return;
        }
        const int pixels = menuBarSize * menuBarDensity;
        QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRect(0, 0, pixels, pixels), *source);
        }
        image.setDevicePixelRatio(menuBarDensity);
        menuBar_.image = std::move(image);
    });
    return menuBar_.image;
}

QString installedBundlePath(const QString& programFolder) {
    const QString folder =
        QDir(programFolder).filePath(QStringLiteral(KESTRO_INSTALLED_BUNDLE_FOLDER));
    return QDir::cleanPath(QDir(folder).filePath(QString::fromLatin1(bundleName)));
}

QString installedBundlePath() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return installedBundlePath(error ? QDir::currentPath()
                                     : QString::fromStdString(program.parent_path().string()));
}

QString buildTreeBundlePath() {
    return QString::fromUtf8(KESTRO_BUILD_BUNDLE_PATH);
}

QString locateBundle(const QString& first, const QString& second) {
    for (const QString& candidate : {first, second}) {
        if (!candidate.isEmpty() && QFileInfo(candidate).isDir()) {
            return candidate;
        }
    }
    const QByteArray message =
        "could not load resource bundle: from " + first.toUtf8() + " or " + second.toUtf8() + "\n";
    std::fputs(message.constData(), stderr);
    std::fflush(stderr);
    std::abort();
}

const Images& shared() {
    static const Images images(locateBundle(installedBundlePath(), buildTreeBundlePath()));
    return images;
}

} // namespace kestro::Brand
