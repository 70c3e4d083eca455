// What the metadata rows learn from a file's own structures rather than from decoded pixels:
// depth and colour model from headers, a raw file's whole sensor, Exif of undecodable files.
#include "imageio/ImageDecoding.h"
#include "imageio/ImageHeaders.h"
#include "imageio/ImageProperties.h"
#include "support/ImageFixtures.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <libheif/heif.h>

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

// An uncompressed 16-bit RGGB DNG of width x height whose ActiveArea leaves `margin` pixels
// unused on every side, as camera sensors do.
QByteArray dngWithMargins(int width, int height, int margin)
{
    struct Entry {
        quint16 tag, type;
        quint32 count;
        QByteArray value; // inline when it fits in 4 bytes
    };
    const QByteArray make("OrvaCam\0", 8), model("Margins\0", 8);
    QList<Entry> entries{
        {254, 4, 1, le(0, 4)},
        {256, 4, 1, le(quint32(width), 4)},
        {257, 4, 1, le(quint32(height), 4)},
        {258, 3, 1, le(16, 4)},
        {259, 3, 1, le(1, 4)},
        {262, 3, 1, le(32803, 4)}, // colour filter array
        {271, 2, 8, make},
        {272, 2, 8, model},
        {273, 4, 1, QByteArray()}, // strip offset, filled in below
        {277, 3, 1, le(1, 4)},
        {278, 4, 1, le(quint32(height), 4)},
        {279, 4, 1, le(quint32(width * height * 2), 4)},
        {33421, 3, 2, le(2, 2) + le(2, 2)},
        {33422, 1, 4, QByteArray("\0\1\1\2", 4)},
        {50706, 1, 4, QByteArray("\1\4\0\0", 4)},
        {50708, 2, 8, make},
        {50829, 4, 4,
         le(quint32(margin), 4) + le(quint32(margin), 4) + le(quint32(height - margin), 4) +
             le(quint32(width - margin), 4)},
    };
    const quint32 ifdSize = 2 + quint32(entries.size()) * 12 + 4;
    quint32 extra = 8 + ifdSize; // values that do not fit inline go after the IFD
    QByteArray values;
    QByteArray ifd = le(quint32(entries.size()), 2);
    const quint32 stripOffset = 8 + ifdSize + 64;
    for (Entry &e : entries) {
        if (e.tag == 273)
            e.value = le(stripOffset, 4);
        ifd += le(e.tag, 2) + le(e.type, 2) + le(e.count, 4);
        if (e.value.size() <= 4) {
            ifd += e.value + QByteArray(4 - e.value.size(), '\0');
        } else {
            ifd += le(extra + quint32(values.size()), 4);
            values += e.value;
        }
    }
    ifd += le(0, 4);
    QByteArray file = "II" + le(42, 2) + le(8, 4) + ifd + values;
    file.resize(stripOffset, '\0');
    QByteArray pixels(width * height * 2, '\0');
    for (int i = 0; i < width * height; ++i)
        qToLittleEndian(quint16(1000 + (i * 37) % 3000), pixels.data() + 2 * i);
    return file + pixels;
}

// A small HEIC carrying the Exif of a JPEG that Exiv2 tagged with `tags`.
bool writeHeicWithExif(const QString &path, const QString &scratchJpeg,
                       const std::map<std::string, std::string> &tags)
{
    if (!writeImage(scratchJpeg, quadrants(32, 32), "JPEG") || !setExifTags(scratchJpeg, tags))
        return false;
    QFile jpeg(scratchJpeg);
    if (!jpeg.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = jpeg.readAll();
    const qsizetype app1 = bytes.indexOf("Exif\0\0", 0);
    if (app1 < 4)
        return false;
    const int segment = qFromBigEndian<quint16>(bytes.constData() + app1 - 2);
    const QByteArray exif = bytes.mid(app1, segment - 2);

    heif_context *ctx = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    heif_image *img = nullptr;
    heif_image_handle *handle = nullptr;
    bool ok =
        heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code ==
            heif_error_Ok &&
        heif_image_create(32, 32, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &img).code ==
            heif_error_Ok &&
        heif_image_add_plane(img, heif_channel_interleaved, 32, 32, 8).code == heif_error_Ok;
    if (ok) {
        int stride = 0;
        uint8_t *plane = heif_image_get_plane(img, heif_channel_interleaved, &stride);
        memset(plane, 0x80, size_t(stride) * 32);
        heif_encoder_set_parameter(encoder, "preset", "ultrafast");
        ok = heif_context_encode_image(ctx, img, encoder, nullptr, &handle).code == heif_error_Ok &&
             heif_context_add_exif_metadata(ctx, handle, exif.constData(), int(exif.size())).code ==
                 heif_error_Ok &&
             heif_context_write_to_file(ctx, QFile::encodeName(path).constData()).code ==
                 heif_error_Ok;
    }
    if (handle)
        heif_image_handle_release(handle);
    if (img)
        heif_image_release(img);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(ctx);
    return ok;
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
        QTest::newRow("PNG grey + alpha") << pngHead(8, 4) << 8 << u"Gray"_s;
        QTest::newRow("PNG grey + alpha 16") << pngHead(16, 4) << 16 << u"Gray"_s;
        QTest::newRow("PNG grey 1-bit") << pngHead(1, 0) << 1 << u"Gray"_s;
        QTest::newRow("PNG palette 4-bit") << pngHead(4, 3) << 4 << u"RGB"_s;
        QTest::newRow("PNG RGBA 16") << pngHead(16, 6) << 16 << u"RGB"_s;
        QTest::newRow("PNG odd depth") << pngHead(7, 2) << 0 << u"RGB"_s;
        QTest::newRow("PNG cut in IHDR") << pngHead(8, 4).left(20) << 0 << QString();
        QTest::newRow("GIF87a") << QByteArray("GIF87a\x10\0\x10\0\x84", 11) << 8 << u"RGB"_s;
        QTest::newRow("GIF89a") << QByteArray("GIF89a") << 8 << u"RGB"_s;
        QTest::newRow("WebP") << QByteArray("RIFF\0\0\0\0WEBPVP8L", 16) << 8 << u"RGB"_s;
        QTest::newRow("RIFF, not WebP")
            << QByteArray("RIFF\0\0\0\0WAVEfmt ", 16) << -1 << QString();
        QTest::newRow("BMP 4-bit palette") << bmpHead(4) << 4 << u"RGB"_s;
        QTest::newRow("BMP 8-bit palette") << bmpHead(8) << 8 << u"RGB"_s;
        QTest::newRow("BMP 24-bit") << bmpHead(24) << 8 << u"RGB"_s;
        QTest::newRow("BMP 16-bit 5-5-5") << bmpHead(16) << 5 << u"RGB"_s;
        QTest::newRow("BMP 16-bit 5-6-5 fields")
            << bmpHead(16, 3, {0xf800, 0x07e0, 0x001f}) << 6 << u"RGB"_s;
        QTest::newRow("BMP V5 32-bit 10-10-10")
            << bmpHead(32, 3, {0x3ff00000, 0x000ffc00, 0x000003ff}, 124) << 10 << u"RGB"_s;
        QTest::newRow("BMP OS/2 core 8-bit") << bmpHead(8, 0, {}, 12) << 8 << u"RGB"_s;
        QTest::newRow("BMP embedded JPEG") << bmpHead(24, 4) << 0 << u"RGB"_s;
        QTest::newRow("BMP odd bit count") << bmpHead(7) << 0 << u"RGB"_s;
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
        QTest::newRow("WebP") << u"photo.webp"_s << 8 << u"RGB"_s;
        QTest::newRow("grey PNG") << u"grey.png"_s << 8 << u"Gray"_s;
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
        } else if (name == u"photo.webp") {
            QVERIFY(writeImage(path(name), quadrants(16, 16), "WEBP", 80));
        } else {
            QImage grey(16, 16, QImage::Format_Grayscale8);
            grey.fill(90);
            QVERIFY(writeImage(path(name), grey, "PNG"));
        }
        QVERIFY(decodeImage(url(name)));
        const auto props = readImageProperties(url(name));
        QVERIFY(props);
        QCOMPARE(props->depth, std::optional(depth));
        QCOMPARE(props->colorModel, std::optional(model));
    }

    // Dimensions of a raw file are the sensor as stored; the picture is its active area.
    void rawDimensionsAreTheWholeSensor()
    {
        QVERIFY(writeBytes(path(u"margins.dng"_s), dngWithMargins(96, 64, 4)));
        const auto props = readImageProperties(url(u"margins.dng"_s));
        QVERIFY(props);
        QCOMPARE(props->pixelWidth, std::optional(96));
        QCOMPARE(props->pixelHeight, std::optional(64));
        QCOMPARE(props->tiff->model, std::optional(u"Margins"_s));
        const auto decoded = decodeImage(url(u"margins.dng"_s));
        QVERIFY(decoded);
        QCOMPARE(decoded->image->pointSize, QSizeF(88, 56));
    }

    // A HEIC whose media data runs past the end of the file, as in a cut-off copy, and that
    // libheif refuses: Exiv2 refuses the whole file too, but its Exif item is intact.
    void exifOfAFileNoDecoderOpens()
    {
        const QString name = u"cut.heic"_s;
        QVERIFY(writeHeicWithExif(path(name), path(u"scratch.jpg"_s),
                                  {{"Exif.Image.Make", "Orva"},
                                   {"Exif.Image.Model", "Cut Short"},
                                   {"Exif.Photo.DateTimeOriginal", "2024:06:03 16:05:09"},
                                   {"Exif.Photo.ISOSpeedRatings", "400"}}));
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
