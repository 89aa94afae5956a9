#pragma once

#include "platform/ScreenCapture.h"
#include "platform/linux/XConnection.h"

#include <xcb/render.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace kestro::platform::linux_x11 {

// Screenshots of RandR monitors on a connection of its own. The screen is taken as it is shown;
// where windows to leave out lie, what lies beneath them is composed afresh on the server from
// the other top-level windows' own pixmaps (Composite), bottom to top, each clipped to its
// shape, over the desktop's wallpaper pixmap (or black where none is published: X keeps no copy
// of the root's own pixels beneath a window). The image is read back once through shared memory
// and the pointer from XFixes is drawn in. Without Composite, Render and XFixes no window can
// be left out, and a screenshot that should leave some out fails.
//
// While it lives the capture keeps the root's children redirected (automatically, so the server
// still draws the screen), which compositing managers allow beside their own redirection.
class X11ScreenCapture final : public ScreenCapture {
public:
    explicit X11ScreenCapture(const char* displayName = nullptr);
    ~X11ScreenCapture() override;

    bool ok() const { return x_.ok(); }
    // Whether windows can be left out of a screenshot on this display.
    bool canExcludeWindows() const { return redirected_; }

    std::optional<ShareableContent> shareableContent() override;
    std::optional<Image> screenshot(const ShareableDisplay& display,
                                    const std::vector<ShareableWindow>& excluding,
                                    const ScreenshotConfiguration& configuration) override;

private:
    struct Format {
        xcb_render_pictformat_t id = 0;
        bool hasAlpha = false;
    };
    struct SharedMemory;

    void queryExtensions();
    bool ensureCanvas(int width, int height);
    void compose(int mx, int my, int width, int height, const std::vector<std::uint64_t>& excluded);
    std::optional<Image> readBack(xcb_drawable_t drawable, int x, int y, int width, int height);
    void drawPointer(Image& image, int mx, int my);
    const Format* formatFor(xcb_visualid_t visual) const;

    XConnection x_;
    bool composite_ = false;
    bool render_ = false;
    bool xfixesCursor_ = false;
    bool xfixesRegions_ = false;
    bool shm_ = false;
    bool redirected_ = false;
    std::map<xcb_visualid_t, Format> formats_;
    xcb_pixmap_t canvas_ = 0;
    xcb_render_picture_t canvasPicture_ = 0;
    int canvasWidth_ = 0;
    int canvasHeight_ = 0;
    std::unique_ptr<SharedMemory> shared_;
};

} // namespace kestro::platform::linux_x11
