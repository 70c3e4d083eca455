#include "imageio/ImageDecoding.h"
#include "imageio/ImageProperties.h"
#include "support/ImageFixtures.h"
#include "support/TestFolder.h"

#include <QColorSpace>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <tiffio.h>

using namespace orva;
using namespace orva::test;

Q_DECLARE_METATYPE(orva::test::DngSensor)

namespace {

// A wide-sample TIFF of `image` through libtiff: 64-bit floats or 32-bit integers, grey or
// RGB. `layout` "white" stores grey as MinIsWhite, "alpha" adds a half-opaque alpha sample,
// "tiled" puts each sample in its own plane of 16x16 tiles.
bool writeWideTiff(const QString &path, const QImage &image, int sampleFormat, int bits, bool grey,
                   const QByteArray &layout)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    const int w = image.width(), h = image.height(), colours = grey ? 1 : 3, bytes = bits / 8;
    const int spp = colours + (layout == "alpha" ? 1 : 0);
    const bool tiled = layout == "tiled";
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, sampleFormat);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 !grey               ? PHOTOMETRIC_RGB
                 : layout == "white" ? PHOTOMETRIC_MINISWHITE
                                     : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, tiled ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    if (spp > colours) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
    }
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const auto put = [&](char *at, int x, int y, int s) {
        const QRgb p = rgb.pixel(x, y);
        double v = s == colours ? 0.5
                   : grey       ? qGray(p) / 255.0
                                : (s == 0   ? qRed(p)
                                   : s == 1 ? qGreen(p)
                                            : qBlue(p)) /
                                255.0;
        if (s < colours && layout == "white")
            v = 1 - v;
        const uint32_t i = uint32_t(std::lround(v * 4294967295.0));
        std::memcpy(at, sampleFormat == SAMPLEFORMAT_IEEEFP ? static_cast<const void *>(&v) : &i,
                    size_t(bytes));
    };
    bool ok = true;
    if (tiled) {
        QByteArray tile(16 * 16 * bytes, '\0');
        for (int s = 0; ok && s < spp; ++s)
            for (int ty = 0; ok && ty < h; ty += 16)
                for (int tx = 0; ok && tx < w; tx += 16) {
                    tile.fill('\0');
                    for (int y = ty; y < std::min(h, ty + 16); ++y)
                        for (int x = tx; x < std::min(w, tx + 16); ++x)
                            put(tile.data() + ((y - ty) * 16 + x - tx) * bytes, x, y, s);
                    ok = TIFFWriteTile(tif, tile.data(), uint32_t(tx), uint32_t(ty), 0,
                                       uint16_t(s)) >= 0;
                }
    } else {
        QByteArray row(w * spp * bytes, '\0');
        for (int y = 0; ok && y < h; ++y) {
            for (int x = 0; x < w; ++x)
                for (int s = 0; s < spp; ++s)
                    put(row.data() + (x * spp + s) * bytes, x, y, s);
            ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) >= 0;
        }
    }
    TIFFClose(tif);
    return ok;
}

} // namespace

class TestHardFiles : public QObject {
    Q_OBJECT

    TestFolder folder{{}};
    QString path(const QString &name) const { return folder.dir.filePath(name); }
    QUrl url(const QString &name) const { return folder.url(name); }

private slots:
    // Valid Exif orientations Qt's readers leave unapplied. Decoding, the properties and
    // (through them) the metadata rows and rotation take the one value Exiv2 reads.
    void orientationThatQtSkips_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("asLong");
        QTest::newRow("JPEG, orientation as LONG") << QStringLiteral("long.jpg") << true;
        QTest::newRow("PNG with Exif") << QStringLiteral("exif.png") << false;
        QTest::newRow("WebP with Exif") << QStringLiteral("exif.webp") << false;
        QTest::newRow("TIFF") << QStringLiteral("tagged.tiff") << false;
    }
    void orientationThatQtSkips()
    {
        QFETCH(QString, name);
        QFETCH(bool, asLong);
        const QByteArray format = QFileInfo(name).suffix().toUpper().toLatin1();
        QVERIFY(writeImage(path(name), quadrants(120, 80), format.constData(), 100));
        QVERIFY(asLong ? setExifLong(path(name), "Exif.Image.Orientation", 6)
                       : setExifTags(path(name), {{"Exif.Image.Orientation", "6"}}));

        const auto decoded = decodeImage(url(name));
        QVERIFY(decoded);
        QCOMPARE(decoded->bitmap->size(), QSize(80, 120));
        QCOMPARE(decoded->image->pointSize, QSizeF(80, 120));
        QCOMPARE(cornerColours(*decoded->bitmap), QStringLiteral("BRGW")); // turned clockwise
        const auto preview = decodeImage(url(name), 60);                   // a scaled decode agrees
        QVERIFY(preview);
        QCOMPARE(cornerColours(*preview->bitmap), QStringLiteral("BRGW"));
        const auto props = readImageProperties(url(name));
        QVERIFY(props);
        QCOMPARE(props->orientation, 6);
    }

    // A camera raw file whose sensor data is gone is a failure, not a black picture.
    void rawWithoutSensorDataFails_data()
    {
        QTest::addColumn<DngSensor>("sensor");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("sensor data present") << DngSensor::present << true;
        QTest::newRow("sensor data past the end") << DngSensor::missing << false;
        QTest::newRow("sensor data cut to a few bytes") << DngSensor::cut << false;
    }
    void rawWithoutSensorDataFails()
    {
        QFETCH(DngSensor, sensor);
        QFETCH(bool, decodes);
        const QString name = QStringLiteral("raw%1.dng").arg(int(sensor));
        QVERIFY(writeDng(path(name), quadrants(64, 48), sensor));
        QCOMPARE(decodeImage(url(name)).has_value(), decodes);
        QCOMPARE(decodeImage(url(name), 16).has_value(), decodes);
        QVERIFY(readImageProperties(url(name))); // its metadata stays readable
    }

    // TIFF sample formats Qt's plugin refuses are read through libtiff, keeping their depth.
    void wideTiffSamples_data()
    {
        QTest::addColumn<int>("sampleFormat");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("grey");
        QTest::addColumn<QByteArray>("layout");
        const int f = SAMPLEFORMAT_IEEEFP;
        QTest::newRow("64-bit float RGB") << f << 64 << false << QByteArray();
        QTest::newRow("64-bit float grey, MinIsWhite") << f << 64 << true << QByteArray("white");
        QTest::newRow("32-bit unsigned RGB and alpha")
            << int(SAMPLEFORMAT_UINT) << 32 << false << QByteArray("alpha");
        QTest::newRow("32-bit signed grey") << int(SAMPLEFORMAT_INT) << 32 << true << QByteArray();
        QTest::newRow("64-bit float RGB, planes of tiles")
            << f << 64 << false << QByteArray("tiled");
    }
    void wideTiffSamples()
    {
        QFETCH(int, sampleFormat);
        QFETCH(int, bits);
        QFETCH(bool, grey);
        QFETCH(QByteArray, layout);
        const QString name =
            QStringLiteral("wide%1.tiff").arg(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(writeWideTiff(path(name), quadrants(40, 30), sampleFormat, bits, grey, layout));
        const auto decoded = decodeImage(url(name));
        QVERIFY(decoded);
        QCOMPARE(decoded->bitmap->size(), QSize(40, 30));
        QCOMPARE(decoded->bitmap->depth(), 128); // float pixels, nothing cut
        const QColor stored = decoded->bitmap->pixelColor(2, 2);
        QVERIFY(std::abs(stored.alphaF() - (layout == "alpha" ? 0.5 : 1.0)) < 0.01);
        const QImage shown = decoded->preview->frames.front().image;
        const QRgb topLeft = shown.pixel(2, 2);
        if (grey) {
            QVERIFY(std::abs(qRed(topLeft) - qGray(qRgb(255, 0, 0))) <= 2);
            QCOMPARE(qRed(topLeft), qBlue(topLeft));
        } else {
            QCOMPARE(stored.toRgb().rgb() & 0xffffff, 0xff0000u);
            if (layout != "alpha") // drawn over the background otherwise
                QCOMPARE(cornerColours(shown), QStringLiteral("RGWB"));
        }
        QCOMPARE(decodeImage(url(name), 20)->bitmap->width(), 20); // bounded decodes too
    }
};

QTEST_GUILESS_MAIN(TestHardFiles)
#include "tst_hardfiles.moc"
