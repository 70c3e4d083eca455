#include "core/runtime/TaskRuntime.h"
#include "imageio/ImageDecoding.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"
#include "imageio/Orientation.h"
#include "imageio/PsdReader.h"
#include "imageio/QtDecoder.h"
#include "support/ImageFixtures.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using namespace orva;
using namespace orva::test;

namespace {

// A one-channel 8-bit Photoshop file, uncompressed, of `side` x `side` pixels.
QByteArray grayPsd(int side)
{
    QByteArray out(26, 0);
    uchar *h = reinterpret_cast<uchar *>(out.data());
    std::memcpy(h, "8BPS", 4);
    qToBigEndian<quint16>(1, h + 4);  // version
    qToBigEndian<quint16>(1, h + 12); // channels
    qToBigEndian<quint32>(side, h + 14);
    qToBigEndian<quint32>(side, h + 18);
    qToBigEndian<quint16>(8, h + 22); // depth
    qToBigEndian<quint16>(1, h + 24); // grayscale
    out += QByteArray(3 * 4 + 2, 0);  // empty sections, raw samples
    return out + QByteArray(qsizetype(side) * side, 'x');
}

} // namespace

class TestDecode : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }
    QUrl url(const QString &name) const { return QUrl::fromLocalFile(path(name)); }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // Corners clockwise from top-left of quadrants() stored as R G / B W and shown with
    // each Exif orientation.
    void orientation_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QString>("corners");
        QTest::addColumn<bool>("swapped");
        QTest::newRow("1 upright") << 1 << QStringLiteral("RGWB") << false;
        QTest::newRow("2 mirrored") << 2 << QStringLiteral("GRBW") << false;
        QTest::newRow("3 turned 180") << 3 << QStringLiteral("WBRG") << false;
        QTest::newRow("4 flipped") << 4 << QStringLiteral("BWGR") << false;
        QTest::newRow("5 transposed") << 5 << QStringLiteral("RBWG") << true;
        QTest::newRow("6 turned cw") << 6 << QStringLiteral("BRGW") << true;
        QTest::newRow("7 transversed") << 7 << QStringLiteral("WGRB") << true;
        QTest::newRow("8 turned ccw") << 8 << QStringLiteral("GWBR") << true;
    }
    void orientation()
    {
        QFETCH(int, orientation);
        QFETCH(QString, corners);
        QFETCH(bool, swapped);
        const QString name = QStringLiteral("orient%1.jpg").arg(orientation);
        QVERIFY(writeImage(path(name), quadrants(120, 80), "JPEG", 95));
        QVERIFY(setExifTags(path(name), {{"Exif.Image.Orientation", std::to_string(orientation)}}));

        const auto decoded = decodeImage(url(name));
        QVERIFY(decoded);
        const QSize expected = swapped ? QSize(80, 120) : QSize(120, 80);
        QCOMPARE(decoded->bitmap->size(), expected);
        QCOMPARE(decoded->image->pointSize, QSizeF(expected));
        QCOMPARE(cornerColours(*decoded->bitmap), corners);
        QCOMPARE(decoded->resolution, 1.0);
        // The helper for camera raw files and embedded thumbnails turns the same way.
        const QImage turned = applyOrientation(quadrants(120, 80), orientation);
        QCOMPARE(turned.size(), expected);
        QCOMPARE(cornerColours(turned), corners);

        const auto props = readImageProperties(url(name));
        QVERIFY(props);
        QCOMPARE(props->orientation, orientation);
        QCOMPARE(props->pixelWidth, std::optional(120)); // stored size, not oriented
        QCOMPARE(props->pixelHeight, std::optional(80));
    }

    // The camera case: a 24 MP portrait decoded for a 2880-pixel screen. JPEG stops at
    // the DCT scale just above the bound (4/8 here) instead of paying for a rescale.
    void cameraPortraitPreviewAndFull()
    {
        QImage big(6000, 4000, QImage::Format_RGB32);
        big.fill(QColor(90, 120, 150));
        QVERIFY(writeImage(path(QStringLiteral("p6.jpg")), big, "JPEG", 50));
        QVERIFY(setExifTags(path(QStringLiteral("p6.jpg")), {{"Exif.Image.Orientation", "6"}}));
        const auto preview = decodeImage(url(QStringLiteral("p6.jpg")), 2880);
        QVERIFY(preview);
        QCOMPARE(preview->bitmap->size(), QSize(2000, 3000));
        QCOMPARE(preview->image->pointSize, QSizeF(4000, 6000));
        QCOMPARE(preview->resolution, 0.5);
        const auto full = decodeImage(url(QStringLiteral("p6.jpg")));
        QVERIFY(full);
        QCOMPARE(full->bitmap->size(), QSize(4000, 6000));
        QCOMPARE(full->resolution, 1.0);
    }

    void animatedAndStillPaths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("frames"); // 0: still
        QTest::newRow("gif, three frames") << QStringLiteral("anim.gif") << 3;
        QTest::newRow("gif, one frame") << QStringLiteral("still.gif") << 0;
        QTest::newRow("webp, two frames") << QStringLiteral("anim.webp") << 2;
        QTest::newRow("png, animated") << QStringLiteral("anim.png") << 3;
        QTest::newRow("png, plain") << QStringLiteral("still.png") << 0;
        QTest::newRow("tiff, two pages") << QStringLiteral("pages.tif") << 0;
    }
    void animatedAndStillPaths()
    {
        QFETCH(QString, name);
        QFETCH(int, frames);
        const QList<QImage> images{quadrants(40, 30), QImage(40, 30, QImage::Format_RGB32),
                                   quadrants(40, 30).mirrored(true, false)};
        QImage blue(40, 30, QImage::Format_RGB32);
        blue.fill(Qt::blue);
        if (name == QLatin1String("anim.gif"))
            QVERIFY(writeGif(path(name), images, {5, 20, 30}, 2));
        else if (name == QLatin1String("still.gif"))
            QVERIFY(writeGif(path(name), {images[0]}, {10}));
        else if (name == QLatin1String("anim.webp"))
            QVERIFY(writeAnimatedWebp(path(name), {images[0], blue}, {100, 250}, 0));
        else if (name == QLatin1String("anim.png")) {
            QFile f(path(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(buildApng({images[0], blue, images[2]}, {40, 80, 120}, 0));
        } else if (name == QLatin1String("still.png"))
            QVERIFY(writeImage(path(name), images[0], "PNG"));
        else
            QVERIFY(writeTiffPages(path(name), {images[0], blue}));

        const auto d = decodeImage(url(name), 16); // ignored by the animated path
        QVERIFY(d);
        if (frames == 0) {
            QVERIFY(d->bitmap);
            QCOMPARE(d->image->frames.size(), size_t(1));
            QVERIFY(d->preview != d->image);
            if (name == QLatin1String("pages.tif")) // page 1, not the blue page 2
                QCOMPARE(cornerColours(*d->bitmap), QStringLiteral("RGWB"));
            return;
        }
        QVERIFY(!d->bitmap);
        QCOMPARE(d->preview, d->image);
        QCOMPARE(d->resolution, 1.0);
        QCOMPARE(d->image->frames.size(), size_t(frames));
        QCOMPARE(d->image->pointSize, QSizeF(40, 30));
        QCOMPARE(cornerColours(d->image->frames.front().image), QStringLiteral("RGWB"));
        if (name == QLatin1String("anim.gif")) {
            QCOMPARE(d->image->frames[1].delayMs, 200);
            QCOMPARE(d->image->loopCount, 2);
        } else if (name == QLatin1String("anim.webp")) {
            QCOMPARE(d->image->frames[1].delayMs, 250);
            QCOMPARE(d->image->loopCount, -1);
        } else {
            QCOMPARE(d->image->frames[2].delayMs, 120);
            QCOMPARE(d->image->loopCount, -1);
        }
    }

    void sixteenBitPngKeepsItsDepth()
    {
        QImage deep(8, 8, QImage::Format_RGBX64);
        deep.fill(QColor::fromRgba64(0x1234, 0x8000, 0xfedc));
        QVERIFY(writeImage(path(QStringLiteral("deep.png")), deep, "PNG"));
        const auto d = decodeImage(url(QStringLiteral("deep.png")));
        QVERIFY(d);
        QCOMPARE(d->bitmap->depth(), 64);
        QCOMPARE(d->bitmap->pixelColor(3, 3).rgba64().red(), quint16(0x1234));
        const auto props = readImageProperties(url(QStringLiteral("deep.png")));
        QVERIFY(props);
        QCOMPARE(props->depth, std::optional(16));
    }

    void tenBitHeicKeepsItsDepth()
    {
        QVERIFY(writeHeif(path(QStringLiteral("deep.heic")), quadrants(64, 48), 10));
        const auto d = decodeImage(url(QStringLiteral("deep.heic")));
        QVERIFY(d);
        QCOMPARE(d->bitmap->size(), QSize(64, 48));
        QCOMPARE(d->bitmap->depth(), 64);
        QCOMPARE(cornerColours(*d->bitmap), QStringLiteral("RGWB"));
        const auto props = readImageProperties(url(QStringLiteral("deep.heic")));
        QVERIFY(props);
        QCOMPARE(props->depth, std::optional(10));
    }

    // A reduced HEIC preview is scaled before it is turned into RGB: its colours must be
    // those of libheif's own conversion of the whole image (same matrix, range, order).
    void reducedHeicKeepsItsColours()
    {
        const QColor patches[] = {Qt::red,
                                  Qt::green,
                                  Qt::blue,
                                  Qt::cyan,
                                  Qt::magenta,
                                  Qt::yellow,
                                  QColor(40, 40, 40),
                                  QColor(230, 230, 230),
                                  QColor(200, 120, 60),
                                  QColor(60, 90, 200),
                                  QColor(128, 128, 128),
                                  QColor(20, 160, 90)};
        QImage image(256, 192, QImage::Format_RGB32);
        for (int i = 0; i < 12; ++i)
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x)
                    image.setPixelColor(i % 4 * 64 + x, i / 4 * 64 + y, patches[i]);
        QVERIFY(writeHeif(path(QStringLiteral("patches.heic")), image, 8));
        const auto reduced = decodeImage(url(QStringLiteral("patches.heic")), 128);
        const auto whole = decodeImage(url(QStringLiteral("patches.heic")));
        QVERIFY(reduced && whole);
        QCOMPARE(reduced->bitmap->size(), QSize(128, 96));
        for (int i = 0; i < 12; ++i) {
            const QColor a = reduced->bitmap->pixelColor(i % 4 * 32 + 16, i / 4 * 32 + 16);
            const QColor b = whole->bitmap->pixelColor(i % 4 * 64 + 32, i / 4 * 64 + 32);
            const int d = std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                                    std::abs(a.blue() - b.blue())});
            QVERIFY2(
                d <= 3,
                qPrintable(QStringLiteral("patch %1: %2 vs %3").arg(i).arg(a.name(), b.name())));
        }
    }

    void embeddedThumbnailOnlyWhenLargeEnough()
    {
        const QString name = QStringLiteral("withthumb.jpg");
        QVERIFY(writeImage(path(name), quadrants(800, 600), "JPEG", 90));
        QImage magenta(160, 120, QImage::Format_RGB32);
        magenta.fill(Qt::magenta);
        QVERIFY(setExifThumbnail(path(name), magenta));
        const auto fromEmbedded = makeThumbnail(url(name), 100);
        QVERIFY(fromEmbedded);
        QVERIFY(std::max(fromEmbedded->width(), fromEmbedded->height()) <= 100);
        QCOMPARE(fromEmbedded->pixelColor(50, 30).green() < 60, true);
        const auto decoded = makeThumbnail(url(name), 400);
        QVERIFY(decoded);
        QCOMPARE(decoded->size(), QSize(400, 300));
        QCOMPARE(cornerColours(*decoded), QStringLiteral("RGWB"));
        // The viewer's own decode never takes the embedded one.
        const auto viewer = decodeImage(url(name), 100);
        QVERIFY(viewer);
        QCOMPARE(cornerColours(*viewer->bitmap), QStringLiteral("RGWB"));
    }

    // Cancelled with most of the work done, a decode gives nothing, never the part decoded
    // so far: animations before their last frame, a Photoshop file past half of its rows.
    void cancelledMidwayGivesNothing()
    {
        const QImage q = quadrants(32, 32);
        const QList<QImage> frames{q, q.mirrored(true, false), q.mirrored(false, true),
                                   q.mirrored(true, true)};
        QFile apng(path(QStringLiteral("cancel.png")));
        QVERIFY(apng.open(QIODevice::WriteOnly) &&
                apng.write(buildApng(frames, {100, 100, 100, 100})) > 0);
        apng.close();
        QVERIFY(writeGif(path(QStringLiteral("cancel.gif")), frames, {10, 10, 10, 10}));
        for (const char *name : {"cancel.png", "cancel.gif"}) {
            const auto source = qtdecoder::probe(path(QString::fromLatin1(name)), {});
            QVERIFY2(source, name);
            const auto whole = qtdecoder::decodeAnimated(*source, [] { return false; });
            QVERIFY2(whole && whole->frames.size() == 4, name);
            int checks = 0;
            QVERIFY2(!qtdecoder::decodeAnimated(*source, [&] { return ++checks == 4; }), name);
        }

        QByteArray psd = grayPsd(1024);
        QBuffer buffer(&psd);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QVERIFY(readPsdComposite(buffer));
        QVERIFY(buffer.seek(0));
        QVERIFY(!readPsdComposite(buffer, {}, [&] { return buffer.pos() > psd.size() / 2; }));
    }
};

QTEST_GUILESS_MAIN(TestDecode)
#include "tst_decode.moc"
