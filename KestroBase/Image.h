#pragma once

#include "KestroBase/Geometry.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// 8-bit RGBA pixels, alpha last and premultiplied, rows top to bottom without padding.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;

    Image() = default;
    Image(int w, int h) : width(w), height(h), rgba(static_cast<std::size_t>(w) * h * 4, 0) {}
    std::uint8_t* pixel(int x, int y) {
        return rgba.data() + (static_cast<std::size_t>(y) * width + x) * 4;
    }
    const std::uint8_t* pixel(int x, int y) const {
        return rgba.data() + (static_cast<std::size_t>(y) * width + x) * 4;
    }
};

// A PNG or JPEG that could not be made or read.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace ImageCodec {

// Fills every pixel a rectangle touches with opaque black: fractional edges round outward, then
// the area is clipped to the image. Rectangles are top-left pixel coordinates.
void redact(Image& image, const std::vector<Rect>& regions);

enum class PngSpeed {
    fast,    // key frames: compression level 1, unfiltered
    compact, // libpng's defaults
};

std::string encodePNG(const Image& image, PngSpeed speed = PngSpeed::fast);
// Writes atomically; throws ImageError or std::filesystem::filesystem_error.
void writePNG(const Image& image, const std::filesystem::path& path,
              PngSpeed speed = PngSpeed::fast);

// Any PNG libpng reads (palette, grey, 16-bit, interlaced), as premultiplied RGBA.
Image decodePNG(std::string_view bytes);
std::optional<Image> readPNG(const std::filesystem::path& path);

// Baseline JPEG of the image composited over black; quality 0 to 100.
std::string encodeJPEG(const Image& image, int quality);
// For tests and checks: the size of a JPEG, or nothing when it cannot be decoded.
std::optional<Image> decodeJPEG(std::string_view bytes);

// Resampled to width x height (area averaging when shrinking, bilinear when growing).
Image scaled(const Image& image, int width, int height);

} // namespace ImageCodec

} // namespace kestro
