#pragma once

#include <QImage>
#include <QString>

#include <mutex>
#include <optional>

namespace kestro {

// The brand artwork: the application icon in two variants, the small mark, the application
// (taskbar) icon and an 18 by 18 tray version of the mark. The images are PNG files in the
// resource bundle, a folder "Kestro_Kestro.bundle" that an installation keeps under
// <prefix>/share/kestro (or, in a build tree, the one the build made). Each image is read once, on
// first use, and kept; a missing or unreadable file leaves that image absent and every user has its
// own fallback.
namespace Brand {

inline constexpr const char* bundleName = "Kestro_Kestro.bundle";

// The images of one bundle folder, each read on its first request.
class Images {
public:
    explicit Images(QString bundleRoot);
    Images(const Images&) = delete;
    Images& operator=(const Images&) = delete;

    const QString& root() const { return root_; }

    const std::optional<QImage>& icon() const;       // "kestro-icon"
    const std::optional<QImage>& mark() const;       // "kestro-mark"
    const std::optional<QImage>& iconOpaque() const; // "kestro-icon-bg"
    const std::optional<QImage>& appIcon() const;    // "kestro-appicon"
    // The mark read afresh and stretched into 18 by 18 logical pixels (at twice the pixel
    // density), meant to be shown as a mask the tray tints.
    const std::optional<QImage>& menuBarImage() const;

    // Reads "<name>.png" from the bundle: absent when missing or not an image.
    std::optional<QImage> load(const QString& name) const;

private:
    struct Slot {
        std::once_flag once;
        std::optional<QImage> image;
    };
    const std::optional<QImage>& get(Slot& slot, const char* name) const;

    QString root_;
    mutable Slot icon_, mark_, iconOpaque_, appIcon_, menuBar_;
};

// The two places the bundle may be: the installation's, found from the running program's own
// folder so that any prefix works (<prefix>/bin/kestro reads <prefix>/share/kestro), then the
// build tree's.
QString installedBundlePath(const QString& programFolder);
QString installedBundlePath();
QString buildTreeBundlePath();

// The first of the two folders that exists; when neither does, the installation is broken and
// the process stops with "could not load resource bundle: from <first> or <second>".
QString locateBundle(const QString& first, const QString& second);

// The process's images, from the bundle located on the first call of any of them.
const Images& shared();
inline const std::optional<QImage>& icon() {
    return shared().icon();
}
inline const std::optional<QImage>& mark() {
    return shared().mark();
}
inline const std::optional<QImage>& iconOpaque() {
    return shared().iconOpaque();
}
inline const std::optional<QImage>& appIcon() {
    return shared().appIcon();
}
inline const std::optional<QImage>& menuBarImage() {
    return shared().menuBarImage();
}

} // namespace Brand

} // namespace kestro
