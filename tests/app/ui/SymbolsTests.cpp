#include "Kestro/text/SkillIcon.h"
#include "Kestro/ui/Symbols.h"
#include "tests/app/QtTestApp.h"

#include <QIcon>
#include <QImage>

#include <gtest/gtest.h>

using namespace kestro;

namespace {

// Every symbol the views of the application name, beside the skill icons.
const char* const viewSymbols[] = {
    "wand.and.stars",
    "xmark",
    "plus.circle.fill",
    "checkmark",
    "exclamationmark.triangle.fill",
    "record.circle",
    "stop.fill",
    "square.stack.3d.up",
    "hourglass",
    "exclamationmark.shield.fill",
    "pencil",
    "play.fill",
    "ellipsis",
    "chevron.up",
    "checkmark.seal.fill",
};

QStringList everySymbol() {
    QStringList names;
    for (const char* n : viewSymbols) {
        names << n;
    }
    for (std::string_view n : SkillIcon::allSymbols()) {
        names << QString::fromUtf8(n.data(), static_cast<qsizetype>(n.size()));
    }
    return names;
}

struct Ink {
    int pixels = 0;
    bool onlyTint = true;
};

Ink inkOf(const QImage& image, QColor tint) {
    Ink ink;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb p = argb.pixel(x, y);
            if (qAlpha(p) < 128) {
                continue;
            }
            ++ink.pixels;
            if (std::abs(qRed(p) - tint.red()) > 2 || std::abs(qGreen(p) - tint.green()) > 2 ||
                std::abs(qBlue(p) - tint.blue()) > 2) {
                ink.onlyTint = false;
            }
        }
    }
    return ink;
}

} // namespace

TEST(Symbols, EveryNameTheViewsUseHasOurOwnMonochromeArtwork) {
    const QColor tint(200, 40, 90);
    for (const QString& name : everySymbol()) {
        EXPECT_TRUE(Symbols::has(name)) << name.toStdString();
        EXPECT_TRUE(Symbols::names().contains(name)) << name.toStdString();
        const QImage image = Symbols::image(name, 32, tint);
        ASSERT_FALSE(image.isNull()) << name.toStdString();
        const Ink ink = inkOf(image, tint);
        EXPECT_GT(ink.pixels, 20) << name.toStdString();
        EXPECT_TRUE(ink.onlyTint) << name.toStdString();
    }
}

TEST(Symbols, WeightAndDensityChangeTheDrawing) {
    const QImage regular = Symbols::image("xmark", 40, Qt::black, Symbols::Weight::regular);
    const QImage bold = Symbols::image("xmark", 40, Qt::black, Symbols::Weight::bold);
    EXPECT_GT(inkOf(bold, Qt::black).pixels, inkOf(regular, Qt::black).pixels);

    const QImage dense = Symbols::image("stop.fill", 20, Qt::black, Symbols::Weight::regular, 2);
    EXPECT_EQ(dense.size(), QSize(40, 40));
    EXPECT_EQ(dense.deviceIndependentSize(), QSizeF(20, 20));
    // The filled square covers the centre, the margin stays clear.
    EXPECT_EQ(qAlpha(dense.pixel(20, 20)), 255);
    EXPECT_EQ(qAlpha(dense.pixel(1, 1)), 0);
    // A cut-out stays transparent after tinting: the plus inside the filled circle.
    const QImage plus = Symbols::image("plus.circle.fill", 48, Qt::black);
    EXPECT_EQ(qAlpha(plus.pixel(24, 24)), 0);
    EXPECT_EQ(qAlpha(plus.pixel(24, 8)), 255);
}

TEST(Symbols, TheIconThemeNeverChangesOurDrawings) {
    kestro::testing::qtApp();
    const QString savedTheme = QIcon::themeName();
    QIcon::setThemeName(QString());
    std::vector<QImage> without;
    for (const QString& name : everySymbol()) {
        without.push_back(Symbols::image(name, 24, Qt::darkGray, Symbols::Weight::medium));
    }
    QIcon::setThemeName("Adwaita");
    std::size_t i = 0;
    for (const QString& name : everySymbol()) {
        EXPECT_EQ(Symbols::image(name, 24, Qt::darkGray, Symbols::Weight::medium), without[i++])
            << name.toStdString();
    }
    // An unknown name without a theme entry draws nothing rather than a wrong picture.
    EXPECT_TRUE(Symbols::image("no.such.symbol", 24, Qt::black).isNull());
    QIcon::setThemeName(savedTheme);
}
