// What the metadata rows learn from a file's own structures rather than from decoded pixels:
// depth and colour model from headers, a raw file's whole sensor, Exif of undecodable files.
#include "imageio/ExifReader.h"
#include "imageio/ImageDecoding.h"
#include "imageio/ImageHeaders.h"
#include "imageio/ImageProperties.h"
#include "support/ImageFixtures.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray le(quint64 v, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(i < 8 ? char(v >> (8 * i) & 0xff) : '\0');
    return out;
}

QByteArray pngHead(int depth, int colourType)
{
    return QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) +
           QByteArray("\0\0\0\x20\0\0\0\x20", 8) + char(depth) + char(colourType) +
           QByteArray(3, '\0');
}

// A BMP file header and an info header of `headerSize` bytes (masks after the first 40).
QByteArray bmpHead(int bits, quint32 compression = 0, QList<quint32> masks = {},
                   quint32 headerSize = 40)
{
    QByteArray h = "BM" + le(0, 12) + le(headerSize, 4);
    if (headerSize == 12)
        return h + le(8, 2) + le(8, 2) + le(1, 2) + le(quint32(bits), 2);
    h += le(8, 4) + le(8, 4) + le(1, 2) + le(quint32(bits), 2) + le(compression, 4) + le(0, 20);
    for (quint32 m : masks)
        h += le(m, 4);
    return h;
}

// The Exif block of a JPEG that Exiv2 tagged with `tags`, for a HEIC's Exif item.
QByteArray exifBlock(const QString &scratchJpeg, const std::map<std::string, std::string> &tags)
{
    QFile jpeg(scratchJpeg);
    if (!writeImage(scratchJpeg, quadrants(32, 32), "JPEG") || !setExifTags(scratchJpeg, tags) ||
        !jpeg.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = jpeg.readAll();
    const qsizetype app1 = bytes.indexOf("Exif\0\0", 0);
    return app1 < 4 ? QByteArray()
                    : bytes.mid(app1, qFromBigEndian<quint16>(bytes.constData() + app1 - 2) - 2);
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestFileProperties : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }
    QUrl url(const QString &name) const { return QUrl::fromLocalFile(path(name)); }

private slots:
    void headers_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("depth"); // 0: none
        QTest::addColumn<QString>("model");
        QTest::newRow("PNG grey + alpha 16") << pngHead(16, 4) << 16 << u"Gray"_s;
        QTest::newRow("PNG palette 4-bit") << pngHead(4, 3) << 4 << u"RGB"_s;
        QTest::newRow("PNG RGBA 16") << pngHead(16, 6) << 16 << u"RGB"_s;
        QTest::newRow("PNG odd depth") << pngHead(7, 2) << 0 << u"RGB"_s;
        QTest::newRow("PNG cut in IHDR") << pngHead(8, 4).left(20) << 0 << QString();
        QTest::newRow("GIF87a") << QByteArray("GIF87a\x10\0\x10\0\x84", 11) << 8 << u"RGB"_s;
        QTest::newRow("WebP") << QByteArray("RIFF\0\0\0\0WEBPVP8L", 16) << 8 << u"RGB"_s;
        QTest::newRow("RIFF, not WebP")
            << QByteArray("RIFF\0\0\0\0WAVEfmt ", 16) << -1 << QString();
        QTest::newRow("BMP 4-bit palette") << bmpHead(4) << 4 << u"RGB"_s;
        QTest::newRow("BMP 16-bit 5-5-5") << bmpHead(16) << 5 << u"RGB"_s;
        QTest::newRow("BMP 16-bit 5-6-5 fields")
            << bmpHead(16, 3, {0xf800, 0x07e0, 0x001f}) << 6 << u"RGB"_s;
        QTest::newRow("BMP V5 32-bit 10-10-10")
            << bmpHead(32, 3, {0x3ff00000, 0x000ffc00, 0x000003ff}, 124) << 10 << u"RGB"_s;
        QTest::newRow("BMP OS/2 core 8-bit") << bmpHead(8, 0, {}, 12) << 8 << u"RGB"_s;
        QTest::newRow("BMP embedded JPEG") << bmpHead(24, 4) << 0 << u"RGB"_s;
        QTest::newRow("BMP unknown header") << bmpHead(8, 0, {}, 20) << 0 << QString();
        QTest::newRow("JPEG is not read here")
            << QByteArray("\xff\xd8\xff\xe0", 4) << -1 << QString();
    }
    void headers()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, depth);
        QFETCH(QString, model);
        const auto read = depthAndModelFromHeader(head);
        if (depth < 0) {
            QVERIFY(!read);
            return;
        }
        QVERIFY(read);
        QCOMPARE(read->depth.value_or(0), depth);
        QCOMPARE(read->model.value_or(QString()), model);
    }

    // The rows of real files whose decoded pixel format says otherwise.
    void decodedFormatDoesNotDecide_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("depth");
        QTest::addColumn<QString>("model");
        QTest::newRow("4-bit BMP decodes as 8-bit") << u"icon.bmp"_s << 4 << u"RGB"_s;
        QTest::newRow("GIF") << u"still.gif"_s << 8 << u"RGB"_s;
    }
    void decodedFormatDoesNotDecide()
    {
        QFETCH(QString, name);
        QFETCH(int, depth);
        QFETCH(QString, model);
        if (name == u"icon.bmp") {
            // 8 x 2 pixels of a 16-colour palette, rows padded to 4 bytes.
            QByteArray palette;
            for (int i = 0; i < 16; ++i)
                palette += QByteArray(3, char(i * 16)) + '\0';
            const QByteArray rows = QByteArray("\x01\x23\x45\x67\x89\xab\xcd\xef", 8);
            QByteArray info = le(40, 4) + le(8, 4) + le(2, 4) + le(1, 2) + le(4, 2) + le(0, 4) +
                              le(quint32(rows.size()), 4) + le(0, 8) + le(16, 4) + le(0, 4);
            const quint32 offset = 14 + 40 + 64;
            QVERIFY(writeBytes(path(name), "BM" + le(offset + quint32(rows.size()), 4) + le(0, 4) +
                                               le(offset, 4) + info + palette + rows));
        } else if (name == u"still.gif") {
            QVERIFY(writeGif(path(name), {quadrants(16, 16)}, {10}, -1));
        }
        QVERIFY(decodeImage(url(name)));
        const auto props = readImageProperties(url(name));
        QVERIFY(props);
        QCOMPARE(props->depth, std::optional(depth));
        QCOMPARE(props->colorModel, std::optional(model));
    }

    // Exif values as cameras store them: degrees, minutes and seconds as rationals, each
    // capture setting in its own tag, text only where the tag holds text.
    void exifValues()
    {
        const QString jpeg = path(u"tags.jpg"_s);
        QVERIFY(writeImage(jpeg, quadrants(16, 16), "JPEG"));
        QVERIFY(setExifTags(jpeg, {{"Exif.GPSInfo.GPSLatitude", "33/1 52/1 775680/100000"},
                                   {"Exif.GPSInfo.GPSLatitudeRef", "S"},
                                   {"Exif.Photo.FNumber", "18/10"},
                                   {"Exif.Photo.FocalLength", "50/1"},
                                   {"Exif.Image.Orientation", "9"}}));
        QVERIFY(setExifLong(jpeg, "Exif.Image.Model", 42));
        const auto p = readExifProperties(jpeg);
        QVERIFY(p && p->gps && p->exif && p->tiff);
        QVERIFY(std::abs(p->gps->latitude.value_or(0) - (33 + 52 / 60.0 + 7.7568 / 3600)) < 1e-9);
        QCOMPARE(p->gps->latitudeRef, std::optional(u"S"_s));
        QCOMPARE(p->exif->fNumber, std::optional(1.8));
        QCOMPARE(p->exif->focalLength, std::optional(50.0));
        QCOMPARE(p->orientation, std::nullopt); // out of range
        QCOMPARE(p->tiff->model, std::nullopt); // a number, not text
    }

    // Dimensions of a raw file are the sensor as stored; the picture is its active area.
    void rawDimensionsAreTheWholeSensor()
    {
        QVERIFY(writeDng(path(u"margins.dng"_s), quadrants(96, 64), DngSensor::present, 4));
        const auto props = readImageProperties(url(u"margins.dng"_s));
        QVERIFY(props);
        QCOMPARE(props->pixelWidth, std::optional(96));
        QCOMPARE(props->pixelHeight, std::optional(64));
        QCOMPARE(props->tiff->model, std::optional(u"Test Sensor"_s));
        const auto decoded = decodeImage(url(u"margins.dng"_s));
        QVERIFY(decoded);
        QCOMPARE(decoded->image->pointSize, QSizeF(88, 56));
    }

    // A HEIC whose media data runs past the end of the file, as in a cut-off copy, and that
    // libheif refuses: Exiv2 refuses the whole file too, but its Exif item is intact.
    void exifOfAFileNoDecoderOpens()
    {
        const QString name = u"cut.heic"_s;
        const QByteArray exif = exifBlock(path(u"scratch.jpg"_s),
                                          {{"Exif.Image.Make", "Orva"},
                                           {"Exif.Image.Model", "Cut Short"},
                                           {"Exif.Photo.DateTimeOriginal", "2024:06:03 16:05:09"},
                                           {"Exif.Photo.ISOSpeedRatings", "400"}});
        QVERIFY(!exif.isEmpty());
        QVERIFY(writeHeif(path(name), quadrants(32, 32), 8, false, 0, 0, exif));
        QVERIFY(decodeImage(url(name)));
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        const qsizetype mdat = bytes.indexOf("mdat");
        QVERIFY(mdat >= 4);
        const quint32 size = qFromBigEndian<quint32>(bytes.constData() + mdat - 4);
        qToBigEndian(size + 100000, bytes.data() + mdat - 4);
        // ... and a primary item libheif cannot find.
        const qsizetype pitm = bytes.indexOf("pitm");
        QVERIFY(pitm > 0);
        bytes[pitm + 3] = 'X';
        QVERIFY(f.seek(0) && f.write(bytes) == bytes.size());
        f.close();

        QVERIFY(!decodeImage(url(name)));
        const auto props = readImageProperties(url(name));
        QVERIFY(props);
        QVERIFY(!props->pixelWidth && !props->depth && !props->colorModel);
        QCOMPARE(props->tiff->make, std::optional(u"Orva"_s));
        QCOMPARE(props->tiff->model, std::optional(u"Cut Short"_s));
        QCOMPARE(props->exif->dateTimeOriginal, std::optional(u"2024:06:03 16:05:09"_s));
        QCOMPARE(props->exif->isoSpeedRatings, std::optional(QList<int>{400}));

        // Cut before the Exif item, or no image structure at all: nothing but the file size.
        QVERIFY(writeBytes(path(u"shorter.heic"_s), bytes.left(mdat + 4)));
        const auto shorter = readImageProperties(url(u"shorter.heic"_s));
        QVERIFY(!shorter || !shorter->tiff);
        QVERIFY(writeBytes(path(u"text.heic"_s), "not an image at all"));
        QVERIFY(!readImageProperties(url(u"text.heic"_s)));
    }
};

QTEST_GUILESS_MAIN(TestFileProperties)
#include "tst_fileproperties.moc"
