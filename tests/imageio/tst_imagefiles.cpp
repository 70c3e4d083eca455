// Real files through the image layer: orientation, scaled and animated decodes, depth and
// colour, what the metadata rows read, working-memory refusals, and broken, truncated and
// hostile files, which end with an absent result or a sound image, never a crash, a hang or
// an allocation the header asked for.
#include "core/view/DisplayPixels.h"
#include "imageio/ApngReader.h"
#include "imageio/ExifReader.h"
#include "imageio/HeifBoxes.h"
#include "imageio/ImageDecoding.h"
#include "imageio/ImageFormats.h"
#include "imageio/ImageProperties.h"
#include "imageio/Orientation.h"
#include "imageio/PsdReader.h"
#include "support/ImageFixtures.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QImageWriter>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <spng.h>
#include <tiffio.h>

#include <cstdlib>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

// A PNG whose every row uses one filter type, written by libspng's encoder.
QByteArray pngWithFilter(const QImage &image, int filterChoice, bool interlaced = false)
{
    const bool alpha = image.hasAlphaChannel();
    const QImage rows =
        image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    spng_ctx *c = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(c, SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_option(c, SPNG_FILTER_CHOICE, filterChoice);
    const auto type = uint8_t(alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR);
    spng_ihdr ihdr{uint32_t(rows.width()), uint32_t(rows.height()), 8, type, 0, 0, interlaced};
    spng_set_ihdr(c, &ihdr);
    QByteArray packed;
    for (int y = 0; y < rows.height(); ++y)
        packed.append(reinterpret_cast<const char *>(rows.constScanLine(y)),
                      rows.width() * (alpha ? 4 : 3));
    int err = spng_encode_image(c, packed.constData(), size_t(packed.size()), SPNG_FMT_PNG,
                                SPNG_ENCODE_FINALIZE);
    size_t length = 0;
    void *bytes = err ? nullptr : spng_get_png_buffer(c, &length, &err);
    QByteArray out(static_cast<const char *>(bytes), qsizetype(length));
    std::free(bytes);
    spng_ctx_free(c);
    return out;
}

// A decode result must describe itself consistently.
void checkSound(const std::optional<DecodedImage> &d)
{
    if (!d)
        return;
    QVERIFY(d->image && d->preview);
    QVERIFY(d->resolution > 0 && d->resolution <= 1.0);
    if (d->bitmap)
        QVERIFY(!d->bitmap->isNull() && d->image->pointSize.width() >= 1);
    else
        QVERIFY(!d->image->frames.empty());
}

// Grey level of each of `count` vertical patches as the view would draw them.
QList<int> shownPatches(const QImage &bitmap, int count)
{
    const QImage shown = toDisplayPixels(bitmap);
    QList<int> out;
    for (int i = 0; i < count; ++i)
        out << qGreen(shown.pixel(shown.width() * (2 * i + 1) / (2 * count), shown.height() / 2));
    return out;
}

// Every reader's sample: the file name picks the decoder; `reader`, when set, is the
// format's own parser, run on every cut and every one-byte damage (under the sanitizers),
// and it must refuse a file missing any of its first `needed` bytes.
struct Sample {
    QString name;
    QByteArray bytes;
    std::function<bool(const QByteArray &)> reader = {};
    qsizetype needed = 0;
};

bool readsPsd(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    return buffer.open(QIODevice::ReadOnly) && readPsdComposite(buffer).has_value();
}

bool readsHeifBoxes(const QByteArray &bytes)
{
    const auto t = readHeifPrimaryTransform(QByteArrayView(bytes));
    return t && t->rotationCcwQuarterTurns >= 0 && t->rotationCcwQuarterTurns < 4;
}

} // namespace

class TestImageFiles : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::vector<Sample> samples;
    QString path(const QString &name) const { return dir.filePath(name); }
    QUrl url(const QString &name) const { return QUrl::fromLocalFile(path(name)); }

    // With ORVA_FUZZ_SEEDS set, the valid samples become the fuzzer's seed corpus: the
    // first byte picks the file name the fuzz target writes (see fuzz/fuzz_decode.cpp).
    void writeFuzzSeeds() const
    {
        const QString out = qEnvironmentVariable("ORVA_FUZZ_SEEDS");
        const QStringList names =
            u"jpg png gif webp tif bmp ico heic avif psd dng cur"_s.split(u' ');
        for (const Sample &sample : samples)
            if (!out.isEmpty() && QDir().mkpath(out))
                writeFile(out + u"/seed-"_s + sample.name,
                          char(names.indexOf(QFileInfo(sample.name).suffix())) + sample.bytes);
    }

    void check(const Sample &sample, const QByteArray &bytes, bool decode)
    {
        if (sample.reader)
            sample.reader(bytes);
        if (!decode)
            return;
        QVERIFY(writeFile(path(u"bad-"_s + sample.name), bytes));
        checkSound(decodeImage(url(u"bad-"_s + sample.name), 64));
        readImageProperties(url(u"bad-"_s + sample.name));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const QImage img = quadrants(48, 32);
        for (const char *ext : {"jpg", "png", "bmp", "tif", "webp", "ico"}) {
            const QString name = u"valid."_s + QLatin1String(ext);
            QVERIFY(img.save(path(name)));
            if (name.endsWith(u"jpg"))
                QVERIFY(setExifTags(
                    path(name), {{"Exif.Image.Orientation", "6"}, {"Exif.Image.Make", "Test"}}));
            samples.push_back({name, readFile(path(name))});
        }
        // Palette and transparency take other paths through the PNG decoder.
        QImage clear = img.convertToFormat(QImage::Format_ARGB32);
        clear.setPixel(0, 0, 0);
        QVERIFY(clear.convertToFormat(QImage::Format_Indexed8).save(path(u"valid.indexed.png"_s)));
        samples.push_back({u"valid.indexed.png"_s, readFile(path(u"valid.indexed.png"_s))});
        QVERIFY(writeGif(path(u"valid.gif"_s), {img, img.mirrored()}, {10, 10}));
        samples.push_back({u"valid.gif"_s, readFile(path(u"valid.gif"_s))});
        // A thumbnail item gives the meta box more items and properties to walk.
        QVERIFY(writeHeif(path(u"valid.heic"_s), img, 8, false, 16));
        const QByteArray heic = readFile(path(u"valid.heic"_s));
        samples.push_back({u"valid.heic"_s, heic, readsHeifBoxes, boxEnd(heic, "meta")});
        // Frames that are offset, blended and disposed in each way.
        QImage half(2, 2, QImage::Format_ARGB32);
        half.fill(QColor(0, 0, 255, 128));
        const QByteArray apng = pngFile(apngChunks({{img},
                                                    {half, 1, 10, {1, 1}, 1, 1},
                                                    {half, 1, 10, {3, 2}, 2, 0},
                                                    {img, 0, 0, {}, 0, 1}}));
        const auto readsApng = [](const QByteArray &b) { return readApng(b).has_value(); };
        samples.push_back({u"anim.png"_s, apng, readsApng, apng.size()});
        // PackBits rows, resources and merged alpha; a deep CMYK large-document file.
        Psd rgba{20, 3, 8, 3, std::vector(4, QByteArray("aaaabcdefghijjjjjjjj").repeated(3))};
        rgba.compression = 1;
        rgba.layers = be(2, 4) + be(-1, 2); // a layer count of -1
        rgba.resources = QByteArray("8BIM\x03\xe8\0\0\0\0\0\x03"
                                    "abc\0",
                                    16);
        const Psd deep{
            3,  2, 16, 4, std::vector(4, QByteArray("\0\1\0\2\x12\x34\x12\x34\x12\x34\0\5", 12)),
            {}, 2, 1};
        for (const auto &[name, psd] : {std::pair{"rgba.psd", rgba}, {"deep.psd", deep}}) {
            QVERIFY(readsPsd(psd.bytes()));
            samples.push_back({QLatin1String(name), psd.bytes(), readsPsd, psd.bytes().size()});
        }
        writeFuzzSeeds();
    }

    // Each Exif orientation, and valid ones Qt's readers leave unapplied (6 as a LONG, Exif in
    // PNG, WebP and TIFF): decoding (scaled too) and the properties take the one value Exiv2
    // reads.
    void orientation()
    {
        const char *shown[] = {"RGWB", "GRBW", "WBRG", "BWGR", "RBWG", "BRGW", "WGRB", "GWBR"};
        QList<std::pair<QString, int>> files{
            {u"long.jpg"_s, 6}, {u"exif.png"_s, 6}, {u"exif.webp"_s, 6}, {u"tagged.tiff"_s, 6}};
        for (int o = 1; o <= 8; ++o)
            files.append({u"o%1.jpg"_s.arg(o), o});
        for (const auto &[name, orientation] : files) {
            const QString corners = QString::fromLatin1(shown[orientation - 1]);
            const QByteArray format = QFileInfo(name).suffix().toUpper().toLatin1();
            QVERIFY(writeImage(path(name), quadrants(120, 80), format.constData(), 95));
            const std::string value = std::to_string(orientation);
            QVERIFY(name == u"long.jpg"
                        ? setExifTags(path(name), {}, {{"Exif.Image.Orientation", 6}})
                        : setExifTags(path(name), {{"Exif.Image.Orientation", value}}));
            const QSize expected = orientation > 4 ? QSize(80, 120) : QSize(120, 80);
            const auto decoded = decodeImage(url(name));
            QVERIFY2(decoded, qPrintable(name));
            QCOMPARE(decoded->bitmap->size(), expected);
            QCOMPARE(decoded->image->pointSize, QSizeF(expected));
            QCOMPARE(cornerColours(*decoded->bitmap), corners);
            QCOMPARE(decoded->resolution, 1.0);
            QCOMPARE(cornerColours(*decodeImage(url(name), 60)->bitmap), corners);
            // The helper for camera raw files and embedded thumbnails turns the same way.
            QCOMPARE(cornerColours(applyOrientation(quadrants(120, 80), orientation)), corners);
            const auto props = readImageProperties(url(name));
            QVERIFY(props);
            QCOMPARE(props->orientation, orientation);
            QCOMPARE(props->pixelWidth, std::optional(120)); // stored size, not oriented
        }
    }

    // The camera case: a 24 MP portrait decoded for a 2880-pixel screen. JPEG stops at
    // the DCT scale just above the bound (4/8 here) instead of paying for a rescale.
    void cameraPortraitPreviewAndFull()
    {
        QImage big(6000, 4000, QImage::Format_RGB32);
        big.fill(QColor(90, 120, 150));
        QVERIFY(writeImage(path(u"p6.jpg"_s), big, "JPEG", 50));
        QVERIFY(setExifTags(path(u"p6.jpg"_s), {{"Exif.Image.Orientation", "6"}}));
        const auto preview = decodeImage(url(u"p6.jpg"_s), 2880);
        QVERIFY(preview);
        QCOMPARE(preview->bitmap->size(), QSize(2000, 3000));
        QCOMPARE(preview->image->pointSize, QSizeF(4000, 6000));
        QCOMPARE(preview->resolution, 0.5);
        QCOMPARE(decodeImage(url(u"p6.jpg"_s))->bitmap->size(), QSize(4000, 6000));
    }

    // Large PNGs are reduced while they are decoded: the result must be what a filtered
    // reduction of the whole image gives, with transparency premultiplied.
    void pngReducedWhileDecoding()
    {
        const int premultiplied = QImage::Format_ARGB32_Premultiplied, rgb = QImage::Format_RGB32;
        // Stored as, the right half's colour, decoded as. Qt writes a transparency chunk with
        // every palette.
        for (const auto &[format, right, expectedFormat] :
             {std::tuple(QImage::Format_RGB32, QColor(Qt::blue), rgb),
              {QImage::Format_ARGB32, QColor(0, 0, 255, 0), premultiplied},
              {QImage::Format_Indexed8, QColor(Qt::blue), premultiplied},
              {QImage::Format_Grayscale8, QColor(Qt::black), rgb}}) {
            QImage image(300, 90, QImage::Format_ARGB32); // reduced by 3 in both directions
            image.fill(Qt::white);
            for (int y = 0; y < 90; ++y)
                for (int x = 150; x < 300; ++x)
                    image.setPixelColor(x, y, right);
            const QString file = path(u"r%1.png"_s.arg(format));
            QVERIFY(image.convertToFormat(format).save(file));
            const auto decoded = decodeImage(QUrl::fromLocalFile(file), 100);
            QVERIFY(decoded && decoded->bitmap);
            const QImage &b = *decoded->bitmap;
            QCOMPARE(b.size(), QSize(100, 30));
            QCOMPARE(int(b.format()), expectedFormat);
            QCOMPARE(b.pixelColor(10, 15), QColor(Qt::white));
            QCOMPARE(b.pixelColor(90, 15).rgba(), right.rgba() & (right.alpha() ? ~0u : 0u));
            // Column 49 covers source columns 147..149: nothing of the right side bleeds in.
            QCOMPARE(b.pixelColor(49, 15), QColor(Qt::white));
            const auto premultiply = [](const QImage &i) {
                return i.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            };
            QCOMPARE(premultiply(*decodeImage(QUrl::fromLocalFile(file))->bitmap),
                     premultiply(QImage(file)));
        }
    }

    // Every filter type, in images with and without alpha, gives the exact pixels.
    void unfiltersEveryRowType()
    {
        QImage image(64, 48, QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y,
                               qRgba((x * 37 + y * 11) & 255, (x * x + y * 7) & 255,
                                     (x ^ y) * 5 & 255, (x * 3 + y * 5) & 255));
        for (const auto filter :
             {SPNG_FILTER_CHOICE_NONE, SPNG_FILTER_CHOICE_SUB, SPNG_FILTER_CHOICE_UP,
              SPNG_FILTER_CHOICE_AVG, SPNG_FILTER_CHOICE_PAETH})
            for (const QImage &source : {image, image.convertToFormat(QImage::Format_RGB32)}) {
                QVERIFY(writeFile(path(u"f.png"_s), pngWithFilter(source, filter)));
                const auto decoded = decodeImage(url(u"f.png"_s), 64);
                QVERIFY(decoded && decoded->bitmap);
                for (int y = 0; y < source.height(); ++y)
                    for (int x = 0; x < source.width(); ++x) {
                        const QRgb p = source.pixel(x, y);
                        const auto pre = [a = qAlpha(p)](int c) { return (c * a + 127) / 255; };
                        QCOMPARE(decoded->bitmap->pixel(x, y),
                                 qRgba(pre(qRed(p)), pre(qGreen(p)), pre(qBlue(p)), qAlpha(p)));
                    }
            }
    }

    void animatedAndStillPaths()
    {
        QImage blue(40, 30, QImage::Format_RGB32);
        blue.fill(Qt::blue);
        const QList<QImage> images{quadrants(40, 30), blue,
                                   quadrants(40, 30).mirrored(true, false)};
        QVERIFY(writeGif(path(u"anim.gif"_s), images, {5, 20, 30}, 2));
        QVERIFY(writeGif(path(u"still.gif"_s), {images[0]}, {10}));
        QVERIFY(writeAnimatedWebp(path(u"anim.webp"_s), {images[0], blue}, {100, 250}));
        QVERIFY(writeFile(path(u"anim.png"_s), buildApng(images, {40, 80, 120})));
        QVERIFY(writeTiff(path(u"pages.tif"_s), {images[0], blue}));
        // Frames (0: a still), the last one's delay, and loops.
        for (const auto &[name, frames, delay, loops] : {std::tuple(u"anim.gif"_s, 3, 300, 2),
                                                         {u"still.gif"_s, 0, 0, 0},
                                                         {u"anim.webp"_s, 2, 250, -1},
                                                         {u"anim.png"_s, 3, 120, -1},
                                                         {u"pages.tif"_s, 0, 0, 0}}) {
            const auto d = decodeImage(url(name), 16); // ignored by the animated path
            QVERIFY2(d, qPrintable(name));
            if (frames == 0) { // page 1 of the TIFF, not the blue page 2
                QVERIFY(d->bitmap && d->preview != d->image);
                QCOMPARE(d->image->frames.size(), size_t(1));
                QCOMPARE(cornerColours(*d->bitmap), u"RGWB"_s);
                continue;
            }
            QVERIFY(!d->bitmap);
            QCOMPARE(d->preview, d->image);
            QCOMPARE(d->resolution, 1.0);
            QCOMPARE(d->image->frames.size(), size_t(frames));
            QCOMPARE(d->image->pointSize, QSizeF(40, 30));
            QCOMPARE(cornerColours(d->image->frames.front().image), u"RGWB"_s);
            QCOMPARE(d->image->frames.back().delayMs, delay);
            QCOMPARE(d->image->loopCount, loops);
        }
    }

    // Depth and colour model come from the file, not from the decoded pixel format; deep
    // files decode deep. (Header-only depths: depthAndModelOfHeaders in tst_imagereaders.)
    // A 16-bit PNG in linear light keeps the dark ramp across its middle smooth in the
    // overlay preview, not the dozen steps an 8-bit reduction before the conversion leaves.
    void depthOfFiles()
    {
        const QColorSpace linear(QColorSpace::Primaries::SRgb,
                                 QColorSpace::TransferFunction::Linear);
        QImage deep = quadrants(1024, 64, QImage::Format_RGBX64);
        for (int x = 0; x < deep.width(); ++x) {
            const auto v = quint16(0.05 * 65535 * x / 1023);
            for (int y = 24; y < 40; ++y) // clear of the corners that cornerColours reads
                deep.setPixelColor(x, y, QColor::fromRgba64(v, v, v));
        }
        deep.setColorSpace(linear);
        QVERIFY(writeImage(path(u"deep.png"_s), deep, "PNG"));
        QVERIFY(writeHeif(path(u"deep.heic"_s), quadrants(64, 48), 10));
        for (const auto &[name, depth] : {std::pair(u"deep.png"_s, 16), {u"deep.heic"_s, 10}}) {
            const auto d = decodeImage(url(name));
            QVERIFY(d && d->bitmap);
            QCOMPARE(d->bitmap->depth(), 64);
            QCOMPARE(cornerColours(*d->bitmap), u"RGWB"_s);
            const auto props = readImageProperties(url(name));
            QVERIFY(props);
            QCOMPARE(props->depth, std::optional(depth));
            QCOMPARE(props->colorModel, std::optional(u"RGB"_s));
        }
        const auto decoded = decodeImage(url(u"deep.png"_s), 2560);
        QCOMPARE(decoded->bitmap->colorSpace(), linear);
        const QImage &preview = decoded->preview->frames.front().image;
        QCOMPARE(preview.width(), 256);
        QSet<int> levels;
        for (int x = 0; x < preview.width(); ++x)
            levels.insert(qGreen(preview.pixel(x, 8)));
        QVERIFY2(levels.size() >= 50, QByteArray::number(levels.size()));
    }

    void embeddedThumbnailOnlyWhenLargeEnough()
    {
        const QString name = u"withthumb.jpg"_s;
        QVERIFY(writeImage(path(name), quadrants(800, 600), "JPEG", 90));
        QImage magenta(160, 120, QImage::Format_RGB32);
        magenta.fill(Qt::magenta);
        QVERIFY(setExifThumbnail(path(name), magenta));
        const auto fromEmbedded = makeThumbnail(url(name), 100);
        QVERIFY(fromEmbedded && std::max(fromEmbedded->width(), fromEmbedded->height()) <= 100);
        QVERIFY(fromEmbedded->pixelColor(50, 30).green() < 60);
        const auto decoded = makeThumbnail(url(name), 400);
        QVERIFY(decoded);
        QCOMPARE(decoded->size(), QSize(400, 300));
        QCOMPARE(cornerColours(*decoded), u"RGWB"_s);
        // The viewer's own decode never takes the embedded one.
        QCOMPARE(cornerColours(*decodeImage(url(name), 100)->bitmap), u"RGWB"_s);
    }

    // TIFF sample formats Qt's plugin refuses are read through libtiff, keeping their depth.
    void wideTiffSamples()
    {
        const int real = SAMPLEFORMAT_IEEEFP;
        // RGB, grey MinIsWhite, RGB and alpha, grey, RGB in planes of tiles.
        for (const auto &[sampleFormat, bits, layout] :
             {std::tuple(real, 64, QByteArray()),
              {real, 64, QByteArray("white")},
              {int(SAMPLEFORMAT_UINT), 32, QByteArray("alpha")},
              {int(SAMPLEFORMAT_INT), 32, QByteArray("grey")},
              {real, 64, QByteArray("tiled")}}) {
            const bool grey = layout == "grey" || layout == "white";
            const QString name = u"wide-%1.tiff"_s.arg(QString::fromLatin1(layout));
            QVERIFY(writeTiff(path(name), {quadrants(40, 30)}, sampleFormat, bits, layout));
            const auto decoded = decodeImage(url(name));
            QVERIFY2(decoded, qPrintable(name));
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
                    QCOMPARE(cornerColours(shown), u"RGWB"_s);
            }
            QCOMPARE(decodeImage(url(name), 20)->bitmap->width(), 20); // bounded decodes too
        }
    }

    // A camera raw file whose sensor data is gone is a failure, not a black picture. Its
    // dimensions are the sensor as stored; the picture is its active area.
    void rawFiles()
    {
        QVERIFY(writeTiff(path(u"raw.dng"_s), {quadrants(96, 64)}, 1, 16, "cfa"));
        const QByteArray whole = readFile(path(u"raw.dng"_s));
        // Patched in the one-strip entries (LONG, count 1): StripOffsets past the end of the
        // file, as in camera files stripped for their metadata, or StripByteCounts down to 22.
        for (const auto &[tag, value] : {std::pair("", 0u), {"1101", 1u << 20}, {"1701", 22u}}) {
            QByteArray bytes = whole;
            const qsizetype at = bytes.indexOf(QByteArray::fromHex(tag) + "\4\0\1\0\0\0");
            QVERIFY(!value || at > 0);
            if (value)
                qToLittleEndian(value, bytes.data() + at + 8);
            const QString name = u"raw%1.dng"_s.arg(value);
            QVERIFY(writeFile(path(name), bytes));
            QCOMPARE(decodeImage(url(name), 16).has_value(), !value);
            const auto decoded = decodeImage(url(name));
            QCOMPARE(decoded.has_value(), !value);
            if (decoded)
                QCOMPARE(decoded->image->pointSize, QSizeF(88, 56));
            const auto props = readImageProperties(url(name)); // its metadata stays readable
            QVERIFY(props);
            QCOMPARE(props->pixelWidth, std::optional(96));
            QCOMPARE(props->pixelHeight, std::optional(64));
            QCOMPARE(props->tiff->model, std::optional(u"Test Sensor"_s));
        }
    }

    // Exif values as cameras store them: degrees, minutes and seconds as rationals, each
    // capture setting in its own tag, text only where the tag holds text. The same block is
    // also the Exif item of a HEIC whose media data runs past the end of the file, as in a
    // cut-off copy, and whose primary item libheif cannot find: Exiv2 refuses that whole
    // file, but its Exif item is intact.
    void exifValues()
    {
        const QString jpeg = path(u"tags.jpg"_s), heic = path(u"cut.heic"_s);
        QVERIFY(writeImage(jpeg, quadrants(16, 16), "JPEG"));
        QVERIFY(setExifTags(jpeg,
                            {{"Exif.GPSInfo.GPSLatitude", "33/1 52/1 775680/100000"},
                             {"Exif.GPSInfo.GPSLatitudeRef", "S"},
                             {"Exif.Photo.FNumber", "18/10"},
                             {"Exif.Photo.FocalLength", "50/1"},
                             {"Exif.Image.Orientation", "9"},
                             {"Exif.Image.Make", "Orva"},
                             {"Exif.Photo.DateTimeOriginal", "2024:06:03 16:05:09"},
                             {"Exif.Photo.ISOSpeedRatings", "400"}},
                            {{"Exif.Image.Model", 42}}));
        const QByteArray tagged = readFile(jpeg);
        const qsizetype app1 = tagged.indexOf("Exif\0\0", 0);
        QVERIFY(app1 >= 4);
        const QByteArray exif =
            tagged.mid(app1, qFromBigEndian<quint16>(tagged.constData() + app1 - 2) - 2);
        QVERIFY(writeHeif(heic, quadrants(32, 32), 8, false, 0, 0, exif));
        QVERIFY(decodeImage(QUrl::fromLocalFile(heic)));
        QByteArray bytes = readFile(heic);
        const qsizetype mdat = bytes.indexOf("mdat"), pitm = bytes.indexOf("pitm");
        QVERIFY(mdat >= 4 && pitm > 0);
        qToBigEndian(qFromBigEndian<quint32>(bytes.constData() + mdat - 4) + 100000,
                     bytes.data() + mdat - 4);
        bytes[pitm + 3] = 'X';
        QVERIFY(writeFile(heic, bytes));
        QVERIFY(!decodeImage(QUrl::fromLocalFile(heic)));
        for (const QString &file : {jpeg, heic}) {
            const auto p = readImageProperties(QUrl::fromLocalFile(file));
            QVERIFY(p && p->gps && p->exif && p->tiff);
            QVERIFY(std::abs(p->gps->latitude.value_or(0) - (33 + 52 / 60.0 + 7.7568 / 3600)) <
                    1e-9);
            QCOMPARE(p->gps->latitudeRef, std::optional(u"S"_s));
            QCOMPARE(p->exif->fNumber, std::optional(1.8));
            QCOMPARE(p->exif->focalLength, std::optional(50.0));
            QCOMPARE(p->orientation, 1); // out of range: shown unturned
            QCOMPARE(p->tiff->make, std::optional(u"Orva"_s));
            QCOMPARE(p->tiff->model, std::nullopt); // a number, not text
            QCOMPARE(p->exif->dateTimeOriginal, std::optional(u"2024:06:03 16:05:09"_s));
            QCOMPARE(p->exif->isoSpeedRatings, std::optional(QList<int>{400}));
            QCOMPARE(!p->pixelWidth && !p->depth && !p->colorModel, file == heic);
        }
        // Cut before the Exif item, or no image structure at all: nothing but the file size.
        QVERIFY(writeFile(path(u"shorter.heic"_s), bytes.left(mdat + 4)));
        const auto shorter = readImageProperties(url(u"shorter.heic"_s));
        QVERIFY(!shorter || !shorter->tiff);
        QVERIFY(writeFile(path(u"text.heic"_s), "not an image at all"));
        QVERIFY(!readImageProperties(url(u"text.heic"_s)));
    }

    // HDR HEIC: the signal is brought to linear light with reference white at 1.0 and
    // highlights above it, so a PQ or HLG photo is neither washed out nor clipped.
    void hdrTransfersAreToneMapped()
    {
        // PQ and HLG signal values for about 5, 203 (reference white), 1000 and 4000 cd/m2.
        for (const auto &[transfer, signal] : {std::pair(16, QList{0.25, 0.58, 0.75, 0.90}),
                                               std::pair(18, QList{0.17, 0.75, 0.90, 1.0})}) {
            QImage patches(int(signal.size()) * 64, 64, QImage::Format_RGBX64);
            for (int x = 0; x < patches.width(); ++x)
                for (int y = 0; y < patches.height(); ++y)
                    patches.setPixelColor(
                        x, y, QColor::fromRgbF(signal[x / 64], signal[x / 64], signal[x / 64]));
            const QString name = u"hdr%1.heic"_s.arg(transfer);
            QVERIFY(writeHeif(path(name), patches, 10, false, 0, transfer));
            const auto decoded = decodeImage(url(name));
            QVERIFY2(decoded && decoded->bitmap, qPrintable(name));
            const QImage f = decoded->bitmap->convertToFormat(QImage::Format_RGBX32FPx4);
            const auto *px = reinterpret_cast<const float *>(f.constBits());
            QVERIFY(*std::max_element(px, px + f.sizeInBytes() / 4) > 3.0f); // highlights kept
            const float white = px[(32 * f.width() + 96) * 4 + 1]; // reference white at 1.0
            QVERIFY2(std::abs(white - 1.0f) < 0.1f, qPrintable(QString::number(white)));
            const QList<int> g = shownPatches(*decoded->bitmap, int(signal.size()));
            QVERIFY2(g[0] < 90, qPrintable(QString::number(g[0])));                 // dark
            QVERIFY2(g[1] >= 215 && g[1] < 250, qPrintable(QString::number(g[1]))); // white
            QVERIFY2(g[2] > g[1] && g[3] > g[2], qPrintable(QString::number(g[2])));
            // The overlay preview agrees with the drawing.
            const QImage &preview = decoded->preview->frames.front().image;
            QVERIFY(std::abs(qGreen(preview.pixel(preview.width() * 3 / 8, preview.height() / 2)) -
                             g[1]) <= 3);
        }
    }

    // An animation tagged with a profile looks like the same picture saved as a still.
    void animatedFramesAreColourConverted()
    {
        QList<QImage> frames;
        for (const QColor c : {QColor(200, 40, 40), QColor(40, 180, 60)}) {
            frames << QImage(32, 32, QImage::Format_RGB32);
            frames.back().fill(c);
            frames.back().setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        }
        QVERIFY(writeAnimatedWebp(path(u"p3.webp"_s), frames, {100, 100}));
        QVERIFY(writeFile(path(u"p3.png"_s), buildApng(frames, {100, 100})));
        QVERIFY(writeImage(path(u"p3still.png"_s), frames[0], "PNG"));
        const QRgb expected =
            toDisplayPixels(*decodeImage(url(u"p3still.png"_s))->bitmap).pixel(0, 0);
        QVERIFY(qRed(expected) > 210); // P3 red is beyond sRGB red: the conversion shows
        for (const QString &name : {u"p3.webp"_s, u"p3.png"_s}) {
            const auto animated = decodeImage(url(name));
            QVERIFY(animated && animated->image->frames.size() == 2);
            const QRgb got = animated->image->frames.front().image.pixel(16, 16);
            QVERIFY2(std::abs(qRed(got) - qRed(expected)) <= 2 &&
                         std::abs(qGreen(got) - qGreen(expected)) <= 2 &&
                         std::abs(qBlue(got) - qBlue(expected)) <= 2,
                     qPrintable(u"%1: %2 vs %3"_s.arg(name).arg(got, 0, 16).arg(expected, 0, 16)));
        }
    }

    // Every cut and, for the formats with their own parser, every one-byte damage; random
    // damage for all.
    void damagedSamples_data()
    {
        QTest::addColumn<int>("sample");
        for (size_t i = 0; i < samples.size(); ++i)
            QTest::newRow(qPrintable(samples[i].name)) << int(i);
    }
    void damagedSamples()
    {
        QFETCH(int, sample);
        const Sample &s = samples[size_t(sample)];
        if (s.reader)
            QVERIFY(s.reader(s.bytes));
        const qsizetype step = std::max<qsizetype>(1, s.bytes.size() / 40);
        for (qsizetype n = 0; n < s.bytes.size(); ++n) {
            if (n < s.needed)
                QVERIFY2(!s.reader(s.bytes.left(n)), qPrintable(QString::number(n)));
            check(s, s.bytes.left(n), n % step == 0);
        }
        for (qsizetype i = 0; s.reader && i < s.bytes.size(); ++i) {
            QByteArray bytes = s.bytes; // one pass of single-byte damage; the fuzzer goes deeper
            bytes[i] = char(bytes[i] ^ 0x5a);
            check(s, bytes, false);
        }
        quint32 seed = 12345;
        for (int round = 0; round < 30; ++round) {
            QByteArray bytes = s.bytes;
            // Headers matter most: half the damage lands in the first 64 bytes.
            for (int k = 0; k < 3; ++k) {
                seed = seed * 1664525u + 1013904223u;
                const qsizetype at = (round % 2 ? seed % std::min<qsizetype>(64, bytes.size())
                                                : seed % bytes.size());
                bytes[at] = char(bytes[at] ^ char(1 + (seed >> 24) % 255));
            }
            check(s, bytes, true);
        }
    }

    // An interrupted download shows the rows that arrived; the rest is left transparent
    // for the background. A file cut inside its header still fails, as damaged.
    void interruptedDownloads()
    {
        QImage noise(64, 256, QImage::Format_RGB32); // data spread evenly over the rows
        quint32 seed = 7;
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                noise.setPixel(x, y, seed >> 8);
            }
        for (const auto &[ext, options] : {std::pair(u"png"_s, QByteArray()),
                                           {u"png"_s, QByteArray("interlaced")},
                                           {u"jpg"_s, QByteArray()},
                                           {u"jpg"_s, QByteArray("progressive")}}) {
            const QString whole = path(u"whole."_s + ext), cut = u"interrupted."_s + ext;
            QImageWriter writer(whole);
            writer.setProgressiveScanWrite(options == "progressive");
            writer.setQuality(95);
            QVERIFY(options == "interlaced"
                        ? writeFile(whole, pngWithFilter(noise, SPNG_FILTER_CHOICE_NONE, true))
                        : writer.write(noise));
            const QByteArray bytes = readFile(whole);
            QVERIFY(writeFile(path(cut), bytes.left(bytes.size() * 6 / 10)));
            const auto d = decodeImage(url(cut));
            QVERIFY2(d && d->bitmap, qPrintable(ext + QLatin1String(options)));
            checkSound(d);
            QCOMPARE(d->bitmap->size(), noise.size());
            const QImage shown = d->bitmap->convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(qAlpha(shown.pixel(10, 5)), 255);
            if (ext == u"png") // lossless: the arrived pixels exactly, up to the last complete
                QCOMPARE(shown.pixel(1, 0), noise.pixel(1, 0)); // interlace pass
            if (options.isEmpty()) { // read top to bottom: the lower part never arrived
                QCOMPARE(qAlpha(shown.pixel(10, 250)), 0);
                int opaqueRows = 0;
                while (opaqueRows < shown.height() && qAlpha(shown.pixel(0, opaqueRows)) == 255)
                    ++opaqueRows;
                QVERIFY2(opaqueRows > 256 * 4 / 10 && opaqueRows < 256 * 8 / 10,
                         QByteArray::number(opaqueRows));
            } else { // the early passes or scans cover the whole picture, coarser
                QCOMPARE(qAlpha(shown.pixel(10, 250)), 255);
            }
            // Bounded decodes and thumbnails take the same path.
            const auto small = decodeImage(url(cut), 64);
            QVERIFY(small && std::max(small->bitmap->width(), small->bitmap->height()) <= 256);
            QVERIFY(makeThumbnail(url(cut), 32));
            // Cut inside the header: nothing to show.
            QVERIFY(writeFile(path(cut), bytes.left(ext == u"png" ? 40 : 120)));
            DecodeFailure why = DecodeFailure::unreadable;
            QVERIFY(!decodeImage(url(cut), 2560, &why));
            QCOMPARE(why, DecodeFailure::damaged);
        }
    }

    // Why a decode failed, carried out of the image layer. Headers claiming gigapixels are
    // refused before anything that size is allocated (under AddressSanitizer such an
    // allocation aborts the test); Qt's readers refuse some headers outright, as damaged.
    void failureReasons()
    {
        const auto damaged = DecodeFailure::damaged, tooLarge = DecodeFailure::tooLarge;
        const QByteArray bmp = "BM" + le(58, 4) + le(0, 4) + le(54, 4) + le(40, 4) +
                               le(1073741826, 4) + le(1, 4) + le(1, 2) + le(32, 2) +
                               QByteArray(28, '\0');
        const QByteArray gif("GIF89a\xff\xff\xff\xff\0\0\0,\0\0\0\0\xff\xff\xff\xff\0\2\2D\1\0;",
                             30);
        PngChunks chunks{{"IHDR", pngIhdr({200000, 200000}, 6)}};
        const QByteArray pngHeader = pngFile(chunks);
        chunks.push_back({"IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)});
        chunks.push_back({"IEND", {}});
        // A null file is none at all.
        for (const auto &[name, bytes, reason] :
             QList<std::tuple<QString, QByteArray, DecodeFailure>>{
                 {u"nowhere.jpg"_s, QByteArray(), DecodeFailure::missing},
                 {u"text.jpg"_s, "not a picture at all\n", DecodeFailure::unreadable},
                 {u"nothing.png"_s, "", DecodeFailure::unreadable},
                 {u"header.png"_s, readFile(path(u"valid.png"_s)).left(20), damaged},
                 {u"1073741826x1.bmp"_s, bmp, damaged},
                 {u"65535x65535.gif"_s, gif, tooLarge},
                 {u"200000-square-cut-after-its-header.png"_s, pngHeader, damaged},
                 {u"200000-square.png"_s, pngFile(chunks), tooLarge}}) {
            QVERIFY(bytes.isNull() || writeFile(path(name), bytes));
            for (const std::optional<int> bound : {std::optional<int>(), std::optional(256)}) {
                DecodeFailure why = DecodeFailure::noImages;
                QVERIFY2(!decodeImage(url(name), bound, &why), qPrintable(name));
                QCOMPARE(why, reason);
            }
            QVERIFY(!makeThumbnail(url(name), 256));
        }
    }

    // Which files open goes by the name; which decoder reads them, by the content.
    void namesAndContent()
    {
        for (const auto &[file, supported] : {std::pair(u"/nowhere/photo.JPG"_s, true),
                                              {u"/nowhere/IMG_1.HEIC"_s, true},
                                              {u"/nowhere/a.nef"_s, true},
                                              {u"/nowhere/notes.txt"_s, false},
                                              {u"/nowhere/jpg"_s, false},
                                              {u"/nowhere/album.png/"_s, false}})
            QVERIFY2(isSupportedImageFile(QUrl::fromLocalFile(file)) == supported,
                     qPrintable(file));
        QVERIFY(!isSupportedImageFile(QUrl(u"https://example.org/a.jpg"_s)));
        QVERIFY(QDir(dir.path()).mkdir(u"album.png"_s));
        QVERIFY(!isSupportedImageFile(url(u"album.png"_s)));
        const QByteArray png = readFile(path(u"valid.png"_s));
        // Qt has no HEIF reader: the second only shows when libheif is chosen.
        QVERIFY(writeFile(path(u"really-png.heic"_s), png));
        QVERIFY(writeHeif(path(u"really-heic.jpg"_s), quadrants(16, 16), 8));
        for (const QString &name : {u"really-png.heic"_s, u"really-heic.jpg"_s})
            QVERIFY2(decodeImage(url(name), 256), qPrintable(name));
        QVERIFY(writeFile(path(u"locked.png"_s), png));
        QVERIFY(QFile::setPermissions(path(u"locked.png"_s), QFileDevice::Permissions()));
        DecodeFailure why = DecodeFailure::noImages;
        if (!QFile(path(u"locked.png"_s)).open(QIODevice::ReadOnly)) { // root reads everything
            QVERIFY(!decodeImage(url(u"locked.png"_s), 256, &why));
            QCOMPARE(why, DecodeFailure::permissionDenied);
        }
    }
};
QTEST_GUILESS_MAIN(TestImageFiles)
#include "tst_imagefiles.moc"
