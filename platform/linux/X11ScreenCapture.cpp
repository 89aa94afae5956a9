#include "platform/linux/X11ScreenCapture.h"

#include "platform/linux/X11Windows.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/composite.h>
#include <xcb/shape.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>

namespace kestro::platform::linux_x11 {

// One System V segment the server writes screenshots into.
struct X11ScreenCapture::SharedMemory {
    xcb_connection_t* connection = nullptr;
    xcb_shm_seg_t segment = 0;
    std::uint8_t* data = nullptr;
    std::size_t size = 0;

    ~SharedMemory() {
        if (segment) {
            xcb_shm_detach(connection, segment);
            xcb_flush(connection);
        }
        if (data) {
            shmdt(data);
        }
    }

    static std::unique_ptr<SharedMemory> create(xcb_connection_t* c, std::size_t bytes) {
        auto memory = std::make_unique<SharedMemory>();
        memory->connection = c;
        const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (id < 0) {
            return nullptr;
        }
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return nullptr;
        }
        memory->data = static_cast<std::uint8_t*>(address);
        memory->size = bytes;
        memory->segment = xcb_generate_id(c);
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_shm_attach_checked(c, memory->segment, static_cast<std::uint32_t>(id), 0));
        // Once both sides are attached the segment can be marked for removal: it goes away
        // with the last detach, even if this process ends abruptly.
        shmctl(id, IPC_RMID, nullptr);
        if (error) {
            std::free(error);
            memory->segment = 0;
            return nullptr;
        }
        return memory;
    }
};

X11ScreenCapture::X11ScreenCapture(const char* displayName) : x_(displayName) {
    if (!x_.ok()) {
        return;
    }
    queryExtensions();
    if (composite_ && render_ && xfixesRegions_) {
        // Redirected early, so that windows have their whole content in their pixmaps (and
        // have repainted what was hidden) by the time the first screenshot needs it.
        xcb_generic_error_t* error =
            xcb_request_check(x_.xcb(), xcb_composite_redirect_subwindows_checked(
                                            x_.xcb(), x_.root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC));
        redirected_ = error == nullptr;
        std::free(error);
    }
}

X11ScreenCapture::~X11ScreenCapture() {
    shared_.reset();
    if (x_.ok()) {
        if (canvasPicture_) {
            xcb_render_free_picture(x_.xcb(), canvasPicture_);
        }
        if (canvas_) {
            xcb_free_pixmap(x_.xcb(), canvas_);
        }
        xcb_flush(x_.xcb());
    }
    // Closing the connection ends the redirection too.
}

void X11ScreenCapture::queryExtensions() {
    xcb_connection_t* c = x_.xcb();
    xcb_prefetch_extension_data(c, &xcb_composite_id);
    xcb_prefetch_extension_data(c, &xcb_render_id);
    xcb_prefetch_extension_data(c, &xcb_xfixes_id);
    xcb_prefetch_extension_data(c, &xcb_shm_id);
    auto present = [c](xcb_extension_t* id) {
        const xcb_query_extension_reply_t* e = xcb_get_extension_data(c, id);
        return e && e->present;
    };
    if (present(&xcb_composite_id)) {
        // Naming a window's pixmap needs 0.2.
        Reply<xcb_composite_query_version_reply_t> v(
            xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr));
        composite_ = v && (v->major_version > 0 || v->minor_version >= 2);
    }
    if (present(&xcb_render_id)) {
        Reply<xcb_render_query_version_reply_t> v(
            xcb_render_query_version_reply(c, xcb_render_query_version(c, 0, 11), nullptr));
        Reply<xcb_render_query_pict_formats_reply_t> f(
            xcb_render_query_pict_formats_reply(c, xcb_render_query_pict_formats(c), nullptr));
        if (v && f) {
            std::map<xcb_render_pictformat_t, bool> alpha;
            for (auto it = xcb_render_query_pict_formats_formats_iterator(f.get()); it.rem;
                 xcb_render_pictforminfo_next(&it)) {
                alpha[it.data->id] = it.data->direct.alpha_mask != 0;
            }
            for (auto s = xcb_render_query_pict_formats_screens_iterator(f.get()); s.rem;
                 xcb_render_pictscreen_next(&s)) {
                for (auto d = xcb_render_pictscreen_depths_iterator(s.data); d.rem;
                     xcb_render_pictdepth_next(&d)) {
                    for (auto v2 = xcb_render_pictdepth_visuals_iterator(d.data); v2.rem;
                         xcb_render_pictvisual_next(&v2)) {
                        formats_[v2.data->visual] = Format{v2.data->format, alpha[v2.data->format]};
                    }
                }
            }
            render_ = true;
        }
    }
    if (present(&xcb_xfixes_id)) {
        Reply<xcb_xfixes_query_version_reply_t> v(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
        xfixesCursor_ = v && v->major_version >= 1;
        xfixesRegions_ = v && v->major_version >= 2;
    }
    if (present(&xcb_shm_id)) {
        Reply<xcb_shm_query_version_reply_t> v(
            xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
        shm_ = v != nullptr;
    }
}

const X11ScreenCapture::Format* X11ScreenCapture::formatFor(xcb_visualid_t visual) const {
    auto it = formats_.find(visual);
    return it == formats_.end() ? nullptr : &it->second;
}

std::optional<ShareableContent> X11ScreenCapture::shareableContent() {
    if (!x_.ok() || xcb_connection_has_error(x_.xcb())) {
        return std::nullopt;
    }
    x_.discardEvents();
    ShareableContent content;
    for (const X11Monitor& m : x_.monitors()) {
        content.displays.push_back(ShareableDisplay{m.id, m.width, m.height});
    }
    for (const TopLevel& t : listTopLevels(x_)) {
        if (t.viewable && t.inputOutput) {
            content.windows.push_back(ShareableWindow{t.window, t.processID});
        }
    }
    return content;
}

bool X11ScreenCapture::ensureCanvas(int width, int height) {
    if (canvas_ && canvasWidth_ == width && canvasHeight_ == height) {
        return true;
    }
    xcb_connection_t* c = x_.xcb();
    if (canvasPicture_) {
        xcb_render_free_picture(c, canvasPicture_);
        canvasPicture_ = 0;
    }
    if (canvas_) {
        xcb_free_pixmap(c, canvas_);
        canvas_ = 0;
    }
    const Format* format = formatFor(x_.screen()->root_visual);
    if (!format) {
        return false;
    }
    canvas_ = xcb_generate_id(c);
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_create_pixmap_checked(c, x_.screen()->root_depth, canvas_,
                                                       x_.root(), static_cast<std::uint16_t>(width),
                                                       static_cast<std::uint16_t>(height)));
    if (error) {
        std::free(error);
        canvas_ = 0;
        return false;
    }
    canvasPicture_ = xcb_generate_id(c);
    xcb_render_create_picture(c, canvasPicture_, canvas_, format->id, 0, nullptr);
    canvasWidth_ = width;
    canvasHeight_ = height;
    return true;
}

void X11ScreenCapture::compose(int mx, int my, int width, int height,
                               const std::vector<std::uint64_t>& excluded) {
    xcb_connection_t* c = x_.xcb();
    const xcb_rectangle_t all{0, 0, static_cast<std::uint16_t>(width),
                              static_cast<std::uint16_t>(height)};
    const Format* rootFormat = formatFor(x_.screen()->root_visual);
    if (!rootFormat) {
        return;
    }

    // The screen as it is, with whatever a compositing manager draws.
    xcb_render_picture_t root = xcb_generate_id(c);
    const std::uint32_t include = XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS;
    xcb_render_create_picture(c, root, x_.root(), rootFormat->id, XCB_RENDER_CP_SUBWINDOW_MODE,
                              &include);
    xcb_render_composite(c, XCB_RENDER_PICT_OP_SRC, root, 0, canvasPicture_,
                         static_cast<std::int16_t>(mx), static_cast<std::int16_t>(my), 0, 0, 0, 0,
                         all.width, all.height);
    xcb_render_free_picture(c, root);
    if (excluded.empty()) {
        return;
    }

    const std::vector<TopLevel> stack = listTopLevels(x_);
    const std::set<std::uint64_t> leftOut(excluded.begin(), excluded.end());
    auto isLeftOut = [&](const TopLevel& t) {
        return leftOut.count(t.window) > 0 || leftOut.count(t.client) > 0;
    };
    auto onDisplay = [&](const TopLevel& t) {
        const int w = t.width + 2 * t.border, h = t.height + 2 * t.border;
        return t.viewable && t.inputOutput && t.x < mx + width && t.y < my + height &&
               t.x + w > mx && t.y + h > my;
    };
    // A window's shape in canvas pixels.
    auto shapeOf = [&](const TopLevel& t) {
        xcb_xfixes_region_t region = xcb_generate_id(c);
        xcb_xfixes_create_region_from_window(c, region, t.window, XCB_SHAPE_SK_BOUNDING);
        xcb_xfixes_translate_region(c, region, static_cast<std::int16_t>(t.x + t.border - mx),
                                    static_cast<std::int16_t>(t.y + t.border - my));
        return region;
    };

    // Where the windows to leave out lie, what lies beneath them is composed afresh.
    xcb_xfixes_region_t hidden = xcb_generate_id(c);
    xcb_xfixes_create_region(c, hidden, 0, nullptr);
    bool any = false;
    int left = width, top = height, right = 0, bottom = 0; // their bounding box
    for (const TopLevel& t : stack) {
        if (onDisplay(t) && isLeftOut(t)) {
            xcb_xfixes_region_t shape = shapeOf(t);
            xcb_xfixes_union_region(c, hidden, shape, hidden);
            xcb_xfixes_destroy_region(c, shape);
            any = true;
            left = std::min(left, t.x - mx);
            top = std::min(top, t.y - my);
            right = std::max(right, t.x - mx + t.width + 2 * t.border);
            bottom = std::max(bottom, t.y - my + t.height + 2 * t.border);
        }
    }
    if (!any) {
        xcb_xfixes_destroy_region(c, hidden);
        return;
    }

    // First the background: black, or the wallpaper pixmap where the desktop publishes one.
    // The root's own pixels beneath a window are not kept anywhere.
    xcb_xfixes_set_picture_clip_region(c, canvasPicture_, hidden, 0, 0);
    const xcb_render_color_t black{0, 0, 0, 0xffff};
    xcb_render_fill_rectangles(c, XCB_RENDER_PICT_OP_SRC, canvasPicture_, black, 1, &all);
    std::optional<std::uint32_t> wallpaper =
        x_.propertyCardinal(x_.root(), x_.atoms().xrootpmapId, XCB_ATOM_PIXMAP);
    if (!wallpaper || !*wallpaper) {
        wallpaper = x_.propertyCardinal(x_.root(), x_.atoms().esetrootPmapId, XCB_ATOM_PIXMAP);
    }
    if (wallpaper && *wallpaper) {
        xcb_render_picture_t picture = xcb_generate_id(c);
        xcb_render_create_picture(c, picture, *wallpaper, rootFormat->id, 0, nullptr);
        xcb_render_composite(c, XCB_RENDER_PICT_OP_SRC, picture, 0, canvasPicture_,
                             static_cast<std::int16_t>(mx), static_cast<std::int16_t>(my), 0, 0, 0,
                             0, all.width, all.height);
        xcb_render_free_picture(c, picture);
    }

    // Then every other window that reaches into that area, from the bottom of the stack up,
    // each clipped to its shape. A window whose pixmap cannot be named (not redirected, or gone
    // meanwhile) makes errors that are dropped and draws nothing.
    xcb_xfixes_region_t clip = xcb_generate_id(c);
    xcb_xfixes_create_region(c, clip, 0, nullptr);
    for (const TopLevel& t : stack) {
        if (!onDisplay(t) || isLeftOut(t) || t.x - mx >= right || t.y - my >= bottom ||
            t.x - mx + t.width + 2 * t.border <= left ||
            t.y - my + t.height + 2 * t.border <= top) {
            continue;
        }
        const Format* format = formatFor(t.visual);
        if (!format) {
            continue;
        }
        xcb_xfixes_region_t shape = shapeOf(t);
        xcb_xfixes_intersect_region(c, shape, hidden, clip);
        xcb_xfixes_destroy_region(c, shape);
        xcb_xfixes_set_picture_clip_region(c, canvasPicture_, clip, 0, 0);
        xcb_pixmap_t pixmap = xcb_generate_id(c);
        xcb_composite_name_window_pixmap(c, t.window, pixmap);
        xcb_render_picture_t picture = xcb_generate_id(c);
        xcb_render_create_picture(c, picture, pixmap, format->id, 0, nullptr);
        xcb_render_composite(
            c, format->hasAlpha ? XCB_RENDER_PICT_OP_OVER : XCB_RENDER_PICT_OP_SRC, picture, 0,
            canvasPicture_, 0, 0, 0, 0, static_cast<std::int16_t>(t.x - mx),
            static_cast<std::int16_t>(t.y - my), static_cast<std::uint16_t>(t.width + 2 * t.border),
            static_cast<std::uint16_t>(t.height + 2 * t.border));
        xcb_render_free_picture(c, picture);
        xcb_free_pixmap(c, pixmap);
    }
    xcb_xfixes_destroy_region(c, clip);
    xcb_xfixes_destroy_region(c, hidden);
    xcb_xfixes_set_picture_clip_region(c, canvasPicture_, XCB_NONE, 0, 0);
}

std::optional<Image> X11ScreenCapture::readBack(xcb_drawable_t drawable, int x, int y, int width,
                                                int height) {
    xcb_connection_t* c = x_.xcb();
    const xcb_visualtype_t* visual = nullptr;
    for (auto d = xcb_screen_allowed_depths_iterator(x_.screen()); d.rem && !visual;
         xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == x_.screen()->root_visual) {
                visual = v.data;
                break;
            }
        }
    }
    if (!visual || x_.screen()->root_depth < 24) {
        return std::nullopt;
    }
    const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
    const std::uint8_t* pixels = nullptr;
    Reply<xcb_get_image_reply_t> plain;
    if (shm_ && (!shared_ || shared_->size < bytes)) {
        shared_.reset();
        shared_ = SharedMemory::create(c, bytes);
        if (!shared_) {
            shm_ = false;
        }
    }
    if (shared_) {
        Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
            c,
            xcb_shm_get_image(c, drawable, static_cast<std::int16_t>(x),
                              static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                              static_cast<std::uint16_t>(height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                              shared_->segment, 0),
            nullptr));
        if (!reply) {
            return std::nullopt;
        }
        pixels = shared_->data;
    } else {
        plain.reset(xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<std::int16_t>(x),
                          static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                          static_cast<std::uint16_t>(height), ~0u),
            nullptr));
        if (!plain || static_cast<std::size_t>(xcb_get_image_data_length(plain.get())) < bytes) {
            return std::nullopt;
        }
        pixels = xcb_get_image_data(plain.get());
    }
    // 32 bits a pixel in the server's byte order; channels where the visual's masks put them.
    const bool swap = xcb_get_setup(c)->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST;
    const int rs = std::countr_zero(visual->red_mask), gs = std::countr_zero(visual->green_mask),
              bs = std::countr_zero(visual->blue_mask);
    Image image(width, height);
    std::uint8_t* out = image.rgba.data();
    const std::size_t count = static_cast<std::size_t>(width) * height;
    if (!swap && rs == 16 && gs == 8 && bs == 0 && std::endian::native == std::endian::little) {
        // The usual layout (B, G, R, X in memory), one word at a time.
        for (std::size_t i = 0; i < count; ++i) {
            std::uint32_t p;
            std::memcpy(&p, pixels + i * 4, 4);
            const std::uint32_t q =
                ((p >> 16) & 0xffu) | (p & 0xff00u) | ((p & 0xffu) << 16) | 0xff000000u;
            std::memcpy(out + i * 4, &q, 4);
        }
        return image;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t p;
        std::memcpy(&p, pixels + i * 4, 4);
        if (swap) {
            p = __builtin_bswap32(p);
        }
        out[i * 4 + 0] = static_cast<std::uint8_t>(p >> rs);
        out[i * 4 + 1] = static_cast<std::uint8_t>(p >> gs);
        out[i * 4 + 2] = static_cast<std::uint8_t>(p >> bs);
        out[i * 4 + 3] = 255;
    }
    return image;
}

void X11ScreenCapture::drawPointer(Image& image, int mx, int my) {
    xcb_connection_t* c = x_.xcb();
    Reply<xcb_xfixes_get_cursor_image_reply_t> cursor(
        xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr));
    if (!cursor) {
        return;
    }
    // Premultiplied ARGB, one 32-bit word a pixel.
    const std::uint32_t* argb = xcb_xfixes_get_cursor_image_cursor_image(cursor.get());
    const int left = cursor->x - cursor->xhot - mx;
    const int top = cursor->y - cursor->yhot - my;
    for (int cy = 0; cy < cursor->height; ++cy) {
        const int y = top + cy;
        if (y < 0 || y >= image.height) {
            continue;
        }
        for (int cx = 0; cx < cursor->width; ++cx) {
            const int x = left + cx;
            if (x < 0 || x >= image.width) {
                continue;
            }
            const std::uint32_t s = argb[cy * cursor->width + cx];
            const unsigned a = s >> 24;
            if (a == 0) {
                continue;
            }
            std::uint8_t* d = image.pixel(x, y);
            const unsigned keep = 255 - a;
            d[0] = static_cast<std::uint8_t>(((s >> 16) & 0xff) + (d[0] * keep + 127) / 255);
            d[1] = static_cast<std::uint8_t>(((s >> 8) & 0xff) + (d[1] * keep + 127) / 255);
            d[2] = static_cast<std::uint8_t>((s & 0xff) + (d[2] * keep + 127) / 255);
            d[3] = 255;
        }
    }
}

std::optional<Image> X11ScreenCapture::screenshot(const ShareableDisplay& display,
                                                  const std::vector<ShareableWindow>& excluding,
                                                  const ScreenshotConfiguration& configuration) {
    if (!x_.ok() || xcb_connection_has_error(x_.xcb()) || configuration.width <= 0 ||
        configuration.height <= 0) {
        return std::nullopt;
    }
    x_.discardEvents();
    std::optional<X11Monitor> monitor;
    for (const X11Monitor& m : x_.monitors()) {
        if (m.id == display.displayID) {
            monitor = m;
            break;
        }
    }
    if (!monitor || monitor->width <= 0 || monitor->height <= 0) {
        return std::nullopt;
    }
    std::optional<Image> image;
    if (redirected_) {
        if (ensureCanvas(monitor->width, monitor->height)) {
            std::vector<std::uint64_t> excluded;
            for (const ShareableWindow& w : excluding) {
                excluded.push_back(w.windowID);
            }
            compose(monitor->x, monitor->y, monitor->width, monitor->height, excluded);
            image = readBack(canvas_, 0, 0, monitor->width, monitor->height);
        }
    }
    if (!image && excluding.empty()) {
        // The screen as it is.
        image = readBack(x_.root(), monitor->x, monitor->y, monitor->width, monitor->height);
    }
    x_.discardEvents();
    if (!image) {
        return std::nullopt;
    }
    if (configuration.showsCursor && xfixesCursor_) {
        drawPointer(*image, monitor->x, monitor->y);
    }
    if (image->width != configuration.width || image->height != configuration.height) {
        return ImageCodec::scaled(*image, configuration.width, configuration.height);
    }
    return image;
}

} // namespace kestro::platform::linux_x11
