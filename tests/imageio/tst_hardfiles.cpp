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

// A float TIFF of `image` through libtiff: 64-bit samples or 32-bit integers, grey or RGB.
bool writeWideTiff(const QString &path, const QImage &image, int sampleFormat, int bits, bool grey)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    const int w = image.width(), h = image.height(), spp = grey ? 1 : 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, sampleFormat);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QByteArray row(w * spp * bits / 8, '\0');
    bool ok = true;
    for (int y = 0; ok && y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QRgb p = rgb.pixel(x, y);
            const double c[3] = {qRed(p) / 255.0, qGreen(p) / 255.0, qBlue(p) / 255.0};
            for (int s = 0; s < spp; ++s) {
                char *at = row.data() + (x * spp + s) * bits / 8;
                const double v = grey ? qGray(p) / 255.0 : c[s];
                if (sampleFormat == SAMPLEFORMAT_IEEEFP) {
                    std::memcpy(at, &v, 8);
                } else {
                    const uint32_t i = uint32_t(std::lround(v * 4294967295.0));
                    std::memcpy(at, &i, 4);
                }
            }
        }
        ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) >= 0;
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
        QVERIFY(asLong ? setExifOrientationAsLong(path(name), 6)
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
        QTest::newRow("64-bit float RGB") << int(SAMPLEFORMAT_IEEEFP) << 64 << false;
        QTest::newRow("64-bit float grey") << int(SAMPLEFORMAT_IEEEFP) << 64 << true;
        QTest::newRow("32-bit unsigned RGB") << int(SAMPLEFORMAT_UINT) << 32 << false;
        QTest::newRow("32-bit signed grey") << int(SAMPLEFORMAT_INT) << 32 << true;
    }
    void wideTiffSamples()
    {
        QFETCH(int, sampleFormat);
        QFETCH(int, bits);
        QFETCH(bool, grey);
        const QString name =
            QStringLiteral("wide%1-%2-%3.tiff").arg(sampleFormat).arg(bits).arg(grey);
        QVERIFY(writeWideTiff(path(name), quadrants(40, 30), sampleFormat, bits, grey));
        const auto decoded = decodeImage(url(name));
        QVERIFY(decoded);
        QCOMPARE(decoded->bitmap->size(), QSize(40, 30));
        QCOMPARE(decoded->bitmap->depth(), 128); // float pixels, nothing cut
        const QImage shown = decoded->preview->frames.front().image;
        const QRgb topLeft = shown.pixel(2, 2);
        if (grey) {
            QVERIFY(std::abs(qRed(topLeft) - qGray(qRgb(255, 0, 0))) <= 2);
            QCOMPARE(qRed(topLeft), qBlue(topLeft));
        } else {
            QCOMPARE(cornerColours(shown), QStringLiteral("RGWB"));
        }
        QCOMPARE(decodeImage(url(name), 20)->bitmap->width(), 20); // bounded decodes too
    }
};

QTEST_GUILESS_MAIN(TestHardFiles)
#include "tst_hardfiles.moc"
