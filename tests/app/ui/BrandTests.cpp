#include "Kestro/ui/Brand.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kestro;

namespace {

const char* const allNames[] = {"kestro-icon", "kestro-mark", "kestro-icon-bg", "kestro-appicon"};

struct Bundle {
    QTemporaryDir dir;

    void writeImage(const char* name, QSize size) {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(QColor(10, 20, 30, 200));
        ASSERT_TRUE(image.save(path(name), "PNG"));
    }
    void writeBytes(const char* name, const QByteArray& bytes) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QString path(const char* name) const {
        return QDir(dir.path()).filePath(QString::fromLatin1(name) + ".png");
    }
};

} // namespace

TEST(Brand, EveryImagePresentAndTheTrayImageIs18Square) {
    for (QSize markSize : {QSize(10, 40), QSize(300, 300)}) {
        Bundle b;
        for (const char* n : allNames) {
            b.writeImage(n, QSize(64, 64));
        }
        b.writeImage("kestro-mark", markSize);
        Brand::Images images(b.dir.path());
        EXPECT_TRUE(images.icon());
        EXPECT_TRUE(images.iconOpaque());
        EXPECT_TRUE(images.appIcon());
        ASSERT_TRUE(images.mark());
        EXPECT_EQ(images.mark()->size(), markSize);
        ASSERT_TRUE(images.menuBarImage());
        EXPECT_EQ(images.menuBarImage()->deviceIndependentSize(), QSizeF(18, 18));
        // Stretched to fill the square whatever the mark's proportions.
        EXPECT_GT(qAlpha(images.menuBarImage()->pixel(0, 0)), 0);
        EXPECT_GT(qAlpha(images.menuBarImage()->pixel(35, 35)), 0);
    }
}

TEST(Brand, MissingOrCorruptMarkLeavesOnlyItsImagesAbsent) {
    const QByteArray notAnImage = "this is text, not a PNG";
    const QByteArray truncatedPng = QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    for (int variant = 0; variant < 3; ++variant) {
        Bundle b;
        for (const char* n : allNames) {
            if (std::string(n) != "kestro-mark") {
                b.writeImage(n, QSize(32, 32));
            }
        }
        if (variant == 1) {
            b.writeBytes("kestro-mark", notAnImage);
        } else if (variant == 2) {
            b.writeBytes("kestro-mark", truncatedPng);
        }
        Brand::Images images(b.dir.path());
        EXPECT_FALSE(images.mark()) << variant;
        EXPECT_FALSE(images.menuBarImage()) << variant;
        EXPECT_TRUE(images.icon()) << variant;
        EXPECT_TRUE(images.iconOpaque()) << variant;
        EXPECT_TRUE(images.appIcon()) << variant;
    }
}

TEST(Brand, ImagesAreReadOnceAndKept) {
    Bundle b;
    const Brand::Images images(b.dir.path());
    // Absent at first access stays absent once the file appears.
    EXPECT_FALSE(images.icon());
    b.writeImage("kestro-icon", QSize(8, 8));
    EXPECT_FALSE(images.icon());

    b.writeImage("kestro-mark", QSize(8, 8));
    const QImage* first = &*images.mark();
    ASSERT_TRUE(QFile::remove(b.path("kestro-mark")));
    ASSERT_TRUE(images.mark());
    EXPECT_EQ(&*images.mark(), first);
    // The tray image reads the file afresh: gone now, so absent, while the mark is kept.
    EXPECT_FALSE(images.menuBarImage());
}

TEST(Brand, TheBuiltBundleHoldsTheArtwork) {
    const Brand::Images& images = Brand::shared();
    for (const char* n : allNames) {
        const auto image = images.load(n);
        ASSERT_TRUE(image) << n;
        EXPECT_GE(image->width(), 64) << n;
        EXPECT_EQ(image->width(), image->height()) << n;
    }
    ASSERT_TRUE(Brand::mark());
    ASSERT_TRUE(Brand::menuBarImage());
    // The opaque variant really is opaque, the icon has transparent corners.
    EXPECT_EQ(qAlpha(Brand::iconOpaque()->pixel(0, 0)), 255);
    EXPECT_EQ(qAlpha(Brand::icon()->pixel(0, 0)), 0);
}

TEST(Brand, InstalledBundleIsFoundFromTheProgramsFolderUnderAnyPrefix) {
    const struct {
        const char* programFolder;
        const char* bundle;
    } cases[] = {
        {"/usr/bin", "/usr/share/kestro/Kestro_Kestro.bundle"},
        {"/tmp/stage/opt/kestro/bin", "/tmp/stage/opt/kestro/share/kestro/Kestro_Kestro.bundle"},
        {"/usr/local/bin/", "/usr/local/share/kestro/Kestro_Kestro.bundle"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Brand::installedBundlePath(QString::fromUtf8(c.programFolder)),
                  QString::fromUtf8(c.bundle));
    }
}

TEST(BrandDeathTest, NoBundleStopsWithBothPaths) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(Brand::locateBundle("/nonexistent/a/Kestro_Kestro.bundle",
                                     "/nonexistent/b/Kestro_Kestro.bundle"),
                 "^could not load resource bundle: from /nonexistent/a/Kestro_Kestro.bundle or "
                 "/nonexistent/b/Kestro_Kestro.bundle\n$");
    QTemporaryDir dir;
    EXPECT_EQ(Brand::locateBundle("/nonexistent/a", dir.path()), dir.path());
}
