#include "KestroBase/Image.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kestro;

namespace {
Image gradient(int w, int h) {
    Image image(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = image.pixel(x, y);
            p[0] = static_cast<std::uint8_t>(x * 7);
            p[1] = static_cast<std::uint8_t>(y * 13);
            p[2] = static_cast<std::uint8_t>((x + y) * 3);
            p[3] = 255;
        }
    }
    return image;
}
bool isBlack(const Image& image, int x, int y) {
    const std::uint8_t* p = image.pixel(x, y);
    return p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 255;
}
} // namespace

TEST(ImageCodec, PngRoundTripIsLossless) {
    Image image = gradient(37, 21);
    for (auto speed : {ImageCodec::PngSpeed::fast, ImageCodec::PngSpeed::compact}) {
        Image back = ImageCodec::decodePNG(ImageCodec::encodePNG(image, speed));
        EXPECT_EQ(back.width, 37);
        EXPECT_EQ(back.height, 21);
        EXPECT_EQ(back.rgba, image.rgba);
    }
}

TEST(ImageCodec, TranslucentPixelsKeepTheirPremultipliedColour) {
    Image image(2, 1);
    std::uint8_t* p = image.pixel(0, 0);
    p[0] = 64, p[1] = 32, p[2] = 0, p[3] = 128;
    Image back = ImageCodec::decodePNG(ImageCodec::encodePNG(image));
    for (int c = 0; c < 4; ++c) {
        EXPECT_NEAR(back.pixel(0, 0)[c], image.pixel(0, 0)[c], 1) << c;
        EXPECT_EQ(back.pixel(1, 0)[c], 0);
    }
}

TEST(ImageCodec, RedactionCoversEveryTouchedPixel) {
    struct Case {
        const char* what;
        Rect region;
        int left, top, right, bottom; // expected black area, exclusive ends
    } cases[] = {
        {"whole pixels", Rect::make(10, 20, 30, 40), 10, 20, 40, 60},
        {"fractional edges round outward", Rect::make(10.5, 20.25, 4.1, 4.5), 10, 20, 15, 25},
        {"negative size", Rect::make(40, 60, -30, -40), 10, 20, 40, 60},
        {"partly outside is clipped", Rect::make(-5.5, 95, 10, 50), 0, 95, 5, 100},
    };
    for (const auto& c : cases) {
        Image image = gradient(100, 100);
        image.pixel(0, 0)[0] = 1; // never black by accident
        ImageCodec::redact(image, {c.region});
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x) {
                const bool inside = x >= c.left && x < c.right && y >= c.top && y < c.bottom;
                if (inside != isBlack(image, x, y)) {
                    ADD_FAILURE() << c.what << " at " << x << "," << y;
                    return;
                }
            }
        }
    }
    Image image = gradient(10, 10);
    const auto before = image.rgba;
    ImageCodec::redact(image, {Rect::make(20, 20, 5, 5), Rect::make(std::nan(""), 0, 5, 5),
                               Rect::make(0, 0, INFINITY, 5)});
    EXPECT_EQ(image.rgba, before);
}

TEST(ImageCodec, DamagedInputIsAnErrorNotACrash) {
    const std::string png = ImageCodec::encodePNG(gradient(64, 64));
    for (const std::string& bad : {std::string(), std::string("not a png at all"), png.substr(0, 8),
                                   png.substr(0, 60), png.substr(0, png.size() / 2)}) {
        EXPECT_THROW(ImageCodec::decodePNG(bad), ImageError) << bad.size();
    }
    std::string flipped = png;
    flipped[40] = static_cast<char>(flipped[40] ^ 0x55);
    EXPECT_THROW(ImageCodec::decodePNG(flipped), ImageError);
    EXPECT_FALSE(ImageCodec::decodeJPEG("\xFF\xD8garbage"));
    EXPECT_THROW(ImageCodec::encodePNG(Image()), ImageError);

    kestro::testing::TempDataDir dir;
    EXPECT_FALSE(ImageCodec::readPNG(dir.root() / "missing.png"));
    kestro::testing::writeFile(dir.root() / "bad.png", "garbage");
    EXPECT_FALSE(ImageCodec::readPNG(dir.root() / "bad.png"));
    ImageCodec::writePNG(gradient(3, 3), dir.root() / "ok.png");
    EXPECT_TRUE(ImageCodec::readPNG(dir.root() / "ok.png"));
    EXPECT_THROW(ImageCodec::writePNG(gradient(3, 3), dir.root() / "no" / "such.png"),
                 std::filesystem::filesystem_error);
}

TEST(ImageCodec, JpegAndScaling) {
    Image image = gradient(160, 90);
    auto jpeg = ImageCodec::decodeJPEG(ImageCodec::encodeJPEG(image, 70));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->width, 160);
    EXPECT_EQ(jpeg->height, 90);
    EXPECT_NEAR(jpeg->pixel(80, 45)[0], image.pixel(80, 45)[0], 12);

    Image small = ImageCodec::scaled(image, 40, 23);
    EXPECT_EQ(small.width, 40);
    EXPECT_EQ(small.height, 23);
    // A box average of a horizontal ramp stays near the ramp's value at the box centre.
    EXPECT_NEAR(small.pixel(5, 0)[0], (5 * 4 + 1.5) * 7, 2);
    Image big = ImageCodec::scaled(image, 320, 180);
    EXPECT_EQ(big.width, 320);
    EXPECT_EQ(big.pixel(319, 179)[3], 255);
    EXPECT_THROW(ImageCodec::scaled(image, 0, 10), ImageError);
}
