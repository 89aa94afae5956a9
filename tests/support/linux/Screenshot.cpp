#include "tests/support/linux/Screenshot.h"

#include "KestroBase/Image.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <filesystem>

namespace kestro::testing {

void saveScreenshot(Display* display, const std::string& name) {
    const int width = DisplayWidth(display, 0), height = DisplayHeight(display, 0);
    XImage* shot =
        XGetImage(display, DefaultRootWindow(display), 0, 0, width, height, AllPlanes, ZPixmap);
    if (!shot) {
        return;
    }
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(shot, x, y);
            std::uint8_t* px = image.pixel(x, y);
            px[0] = static_cast<std::uint8_t>(p >> 16);
            px[1] = static_cast<std::uint8_t>(p >> 8);
            px[2] = static_cast<std::uint8_t>(p);
            px[3] = 255;
        }
    }
    XDestroyImage(shot);
    std::filesystem::create_directories("screenshots");
    ImageCodec::writePNG(image, std::filesystem::path("screenshots") / (name + ".png"));
}

} // namespace kestro::testing
