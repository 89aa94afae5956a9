#include "KestroBase/Image.h"

#include "KestroBase/FileIO.h"

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// libpng and libjpeg report errors by calling a handler that must not return; the default ones
// abort or exit the process. Ours longjmp back into small functions that hold no C++ objects
// with destructors between setjmp and the library calls, and turn the failure into ImageError.

namespace kestro {

namespace {

constexpr std::uint32_t kMaxDimension = 32768;

struct CodecError {
    char message[200] = {};
};

void pngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<CodecError*>(png_get_error_ptr(png));
    if (error) {
        std::snprintf(error->message, sizeof error->message, "%s", message ? message : "PNG error");
    }
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

struct PngOutput {
    std::string* bytes;
};

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<PngOutput*>(png_get_io_ptr(png));
    out->bytes->append(reinterpret_cast<const char*>(data), length);
}

void pngFlush(png_structp) {}

struct PngInput {
    const unsigned char* data;
    std::size_t size;
    std::size_t offset;
};

void pngRead(png_structp png, png_bytep data, png_size_t length) {
    auto* in = static_cast<PngInput*>(png_get_io_ptr(png));
    if (length > in->size - in->offset) {
        png_error(png, "truncated PNG data");
    }
    std::memcpy(data, in->data + in->offset, length);
    in->offset += length;
}

// Returns false with `error` filled when libpng fails.
bool pngEncodeRows(png_bytep* rows, std::uint32_t width, std::uint32_t height, bool fast,
                   bool opaque, PngOutput* output, CodecError* error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, pngError, pngWarning);
    if (!png) {
        std::snprintf(error->message, sizeof error->message, "cannot create a PNG writer");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(error->message, sizeof error->message, "cannot create a PNG writer");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, output, pngWrite, pngFlush);
    // An opaque image is stored without its alpha channel: a quarter less to compress.
    png_set_IHDR(png, info, width, height, 8, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    if (fast) {
        // Screens are mostly flat colour and text, which compress best unfiltered; the
        // prediction filters only cost time there.
        png_set_compression_level(png, 1);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    }
    png_write_info(png, info);
    if (opaque) {
        png_set_filler(png, 0, PNG_FILLER_AFTER); // the rows' fourth byte is dropped
    }
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

struct PngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
};

bool pngDecodeHeader(png_structp png, png_infop info, PngInput* input, PngHeader* header) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_read_fn(png, input, pngRead);
    png_set_user_limits(png, kMaxDimension, kMaxDimension);
    png_read_info(png, info);
    int bitDepth = 0, colorType = 0;
    png_get_IHDR(png, info, &header->width, &header->height, &bitDepth, &colorType, nullptr,
                 nullptr, nullptr);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<png_size_t>(header->width) * 4) {
        png_error(png, "unexpected PNG row layout");
    }
    return true;
}

bool pngDecodeRows(png_structp png, png_infop info, png_bytep* rows) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    (void)info;
    return true;
}

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

void jpegOutputMessage(j_common_ptr) {}

bool jpegEncodeRows(JSAMPROW* rows, std::uint32_t width, std::uint32_t height, int quality,
                    unsigned char** buffer, unsigned long* size, JpegErrorManager* errors) {
    jpeg_compress_struct cinfo;
    cinfo.err = jpeg_std_error(&errors->base);
    errors->base.error_exit = jpegErrorExit;
    errors->base.output_message = jpegOutputMessage;
    if (setjmp(errors->jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, buffer, size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        jpeg_write_scanlines(&cinfo, &rows[cinfo.next_scanline],
                             cinfo.image_height - cinfo.next_scanline);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

struct JpegHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Decodes into `pixels` (RGB), which the caller sizes after the header pass.
bool jpegDecode(const unsigned char* data, unsigned long size, JpegHeader* header,
                unsigned char* (*allocate)(void*, std::size_t), void* context,
                JpegErrorManager* errors) {
    jpeg_decompress_struct cinfo;
    cinfo.err = jpeg_std_error(&errors->base);
    errors->base.error_exit = jpegErrorExit;
    errors->base.output_message = jpegOutputMessage;
    if (setjmp(errors->jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    header->width = cinfo.output_width;
    header->height = cinfo.output_height;
    if (header->width > kMaxDimension || header->height > kMaxDimension) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    unsigned char* pixels =
        allocate(context, static_cast<std::size_t>(header->width) * header->height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels + static_cast<std::size_t>(cinfo.output_scanline) * header->width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

void checkImage(const Image& image) {
    if (image.width <= 0 || image.height <= 0 ||
        static_cast<std::uint32_t>(image.width) > kMaxDimension ||
        static_cast<std::uint32_t>(image.height) > kMaxDimension ||
        image.rgba.size() != static_cast<std::size_t>(image.width) * image.height * 4) {
        throw ImageError("the image has no pixels or an inconsistent size");
    }
}

} // namespace

namespace ImageCodec {

void redact(Image& image, const std::vector<Rect>& regions) {
    for (const Rect& r : regions) {
        double x0 = std::min(r.origin.x, r.origin.x + r.size.width);
        double x1 = std::max(r.origin.x, r.origin.x + r.size.width);
        double y0 = std::min(r.origin.y, r.origin.y + r.size.height);
        double y1 = std::max(r.origin.y, r.origin.y + r.size.height);
        if (!(std::isfinite(x0) && std::isfinite(x1) && std::isfinite(y0) && std::isfinite(y1))) {
            continue;
        }
        // Round outward so no row or column of the field stays visible, then clip.
        const double left = std::max(0.0, std::floor(x0));
        const double top = std::max(0.0, std::floor(y0));
        const double right = std::min(static_cast<double>(image.width), std::ceil(x1));
        const double bottom = std::min(static_cast<double>(image.height), std::ceil(y1));
        if (left >= right || top >= bottom) {
            continue;
        }
        for (int y = static_cast<int>(top); y < static_cast<int>(bottom); ++y) {
            for (int x = static_cast<int>(left); x < static_cast<int>(right); ++x) {
                std::uint8_t* p = image.pixel(x, y);
                p[0] = p[1] = p[2] = 0;
                p[3] = 255;
            }
        }
    }
}

std::string encodePNG(const Image& image, PngSpeed speed) {
    checkImage(image);
    const std::size_t stride = static_cast<std::size_t>(image.width) * 4;
    // PNG stores straight alpha; only translucent pixels need converting.
    bool opaque = true;
    for (std::size_t i = 3; i < image.rgba.size(); i += 4) {
        if (image.rgba[i] != 255) {
            opaque = false;
            break;
        }
    }
    std::vector<std::uint8_t> straight;
    const std::uint8_t* source = image.rgba.data();
    if (!opaque) {
        straight = image.rgba;
        for (std::size_t i = 0; i < straight.size(); i += 4) {
            const unsigned a = straight[i + 3];
            if (a != 0 && a != 255) {
                for (int c = 0; c < 3; ++c) {
                    straight[i + c] = static_cast<std::uint8_t>(
                        std::min(255u, (straight[i + c] * 255u + a / 2) / a));
                }
            }
        }
        source = straight.data();
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(source + y * stride);
    }
    std::string bytes;
    bytes.reserve(stride * static_cast<std::size_t>(image.height) / 4);
    PngOutput output{&bytes};
    CodecError error;
    if (!pngEncodeRows(rows.data(), static_cast<std::uint32_t>(image.width),
                       static_cast<std::uint32_t>(image.height), speed == PngSpeed::fast, opaque,
                       &output, &error)) {
        throw ImageError(std::string("cannot encode PNG: ") + error.message);
    }
    return bytes;
}

void writePNG(const Image& image, const std::filesystem::path& path, PngSpeed speed) {
    writeFileAtomically(path, encodePNG(image, speed));
}

Image decodePNG(std::string_view bytes) {
    if (bytes.size() < 8 ||
        png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) != 0) {
        throw ImageError("not a PNG file");
    }
    CodecError error;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, pngError, pngWarning);
    if (!png) {
        throw ImageError("cannot create a PNG reader");
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        throw ImageError("cannot create a PNG reader");
    }
    PngInput input{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0};
    PngHeader header;
    if (!pngDecodeHeader(png, info, &input, &header) || header.width == 0 || header.height == 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw ImageError(std::string("cannot decode PNG: ") + error.message);
    }
    Image image;
    std::vector<png_bytep> rows;
    try {
        image = Image(static_cast<int>(header.width), static_cast<int>(header.height));
        rows.resize(header.height);
    } catch (...) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw;
    }
    for (png_uint_32 y = 0; y < header.height; ++y) {
        rows[y] = image.rgba.data() + static_cast<std::size_t>(y) * header.width * 4;
    }
    const bool ok = pngDecodeRows(png, info, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) {
        throw ImageError(std::string("cannot decode PNG: ") + error.message);
    }
    for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
        const unsigned a = image.rgba[i + 3];
        if (a != 255) {
            for (int c = 0; c < 3; ++c) {
                image.rgba[i + c] = static_cast<std::uint8_t>((image.rgba[i + c] * a + 127) / 255);
            }
        }
    }
    return image;
}

std::optional<Image> readPNG(const std::filesystem::path& path) {
    auto bytes = readFileIfPresent(path);
    if (!bytes) {
        return std::nullopt;
    }
    try {
        return decodePNG(*bytes);
    } catch (const ImageError&) {
        return std::nullopt;
    }
}

std::string encodeJPEG(const Image& image, int quality) {
    checkImage(image);
    const std::size_t width = static_cast<std::size_t>(image.width);
    // Premultiplied colour is already the colour over black.
    std::vector<unsigned char> rgb(width * static_cast<std::size_t>(image.height) * 3);
    for (std::size_t i = 0, j = 0; i < image.rgba.size(); i += 4, j += 3) {
        rgb[j] = image.rgba[i];
        rgb[j + 1] = image.rgba[i + 1];
        rgb[j + 2] = image.rgba[i + 2];
    }
    std::vector<JSAMPROW> rows(static_cast<std::size_t>(image.height));
    for (std::size_t y = 0; y < rows.size(); ++y) {
        rows[y] = rgb.data() + y * width * 3;
    }
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    JpegErrorManager errors{};
    const bool ok = jpegEncodeRows(rows.data(), static_cast<std::uint32_t>(image.width),
                                   static_cast<std::uint32_t>(image.height),
                                   std::clamp(quality, 0, 100), &buffer, &size, &errors);
    std::string out;
    if (ok && buffer) {
        out.assign(reinterpret_cast<const char*>(buffer), size);
    }
    std::free(buffer);
    if (!ok) {
        throw ImageError(std::string("cannot encode JPEG: ") + errors.message);
    }
    return out;
}

std::optional<Image> decodeJPEG(std::string_view bytes) {
    if (bytes.empty()) {
        return std::nullopt;
    }
    std::vector<unsigned char> rgb;
    auto allocate = [](void* context, std::size_t size) -> unsigned char* {
        auto* v = static_cast<std::vector<unsigned char>*>(context);
        v->resize(size);
        return v->data();
    };
    JpegHeader header;
    JpegErrorManager errors{};
    if (!jpegDecode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &header,
                    allocate, &rgb, &errors) ||
        header.width == 0 || header.height == 0) {
        return std::nullopt;
    }
    Image image(static_cast<int>(header.width), static_cast<int>(header.height));
    for (std::size_t i = 0, j = 0; j < rgb.size(); i += 4, j += 3) {
        image.rgba[i] = rgb[j];
        image.rgba[i + 1] = rgb[j + 1];
        image.rgba[i + 2] = rgb[j + 2];
        image.rgba[i + 3] = 255;
    }
    return image;
}

Image scaled(const Image& image, int width, int height) {
    checkImage(image);
    if (width <= 0 || height <= 0) {
        throw ImageError("cannot scale to an empty size");
    }
    if (width == image.width && height == image.height) {
        return image;
    }
    Image out(width, height);
    const double sx = static_cast<double>(image.width) / width;
    const double sy = static_cast<double>(image.height) / height;
    if (sx >= 1.0 && sy >= 1.0) {
        // Box average over the source pixels each destination pixel covers.
        for (int y = 0; y < height; ++y) {
            const int y0 = static_cast<int>(y * sy);
            const int y1 = std::max(y0 + 1, std::min(image.height, static_cast<int>((y + 1) * sy)));
            for (int x = 0; x < width; ++x) {
                const int x0 = static_cast<int>(x * sx);
                const int x1 =
                    std::max(x0 + 1, std::min(image.width, static_cast<int>((x + 1) * sx)));
                unsigned sum[4] = {0, 0, 0, 0};
                for (int yy = y0; yy < y1; ++yy) {
                    const std::uint8_t* p = image.pixel(x0, yy);
                    for (int xx = x0; xx < x1; ++xx, p += 4) {
                        sum[0] += p[0];
                        sum[1] += p[1];
                        sum[2] += p[2];
                        sum[3] += p[3];
                    }
                }
                const unsigned count = static_cast<unsigned>((x1 - x0) * (y1 - y0));
                std::uint8_t* d = out.pixel(x, y);
                for (int c = 0; c < 4; ++c) {
                    d[c] = static_cast<std::uint8_t>((sum[c] + count / 2) / count);
                }
            }
        }
        return out;
    }
    // Bilinear, sampling at pixel centres.
    for (int y = 0; y < height; ++y) {
        const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, image.height - 1.0);
        const int y0 = static_cast<int>(fy);
        const int y1 = std::min(image.height - 1, y0 + 1);
        const double ty = fy - y0;
        for (int x = 0; x < width; ++x) {
            const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, image.width - 1.0);
            const int x0 = static_cast<int>(fx);
            const int x1 = std::min(image.width - 1, x0 + 1);
            const double tx = fx - x0;
            std::uint8_t* d = out.pixel(x, y);
            for (int c = 0; c < 4; ++c) {
                const double top = image.pixel(x0, y0)[c] * (1 - tx) + image.pixel(x1, y0)[c] * tx;
                const double bottom =
                    image.pixel(x0, y1)[c] * (1 - tx) + image.pixel(x1, y1)[c] * tx;
                d[c] = static_cast<std::uint8_t>(std::lround(top * (1 - ty) + bottom * ty));
            }
        }
    }
    return out;
}

} // namespace ImageCodec

} // namespace kestro
