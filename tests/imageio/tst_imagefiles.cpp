// The image layer. Real files: orientation, scaled and animated decodes, depth and colour,
// what the metadata rows read, and broken, truncated and hostile files, which end with an
// absent result or a sound image, never a crash, a hang or an allocation the header asked
// for. Its own parsers on bytes built in memory: APNG, Photoshop, HEIF boxes, JPEG frame
// headers, and bitmap rotation.
#include "core/view/DisplayPixels.h"
#include "imageio/ApngReader.h"
#include "imageio/ExifReader.h"
#include "imageio/HeifBoxes.h"
#include "imageio/ImageDecoding.h"
#include "imageio/ImageFormats.h"
#include "imageio/ImageProperties.h"
#include "imageio/JpegHeader.h"
#include "imageio/Orientation.h"
#include "imageio/PsdReader.h"
#include "imageio/Rotation.h"
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

#include <bit>
#include <cstdlib>
#include <limits>

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

// Every reader's sample: the file name picks the decoder; `reader`, when set, is the
// format's own parser, run on every cut and every one-byte damage (under the sanitizers),
// and it must refuse a file missing any of its first `needed` bytes.
struct Sample {
    QString name;
    QByteArray bytes;
    std::function<bool(const QByteArray &)> reader = {};
    qsizetype needed = 0;
};

bool readsHeifBoxes(const QByteArray &bytes)
{
    const auto t = readHeifPrimaryTransform(QByteArrayView(bytes));
    return t && t->rotationCcwQuarterTurns >= 0 && t->rotationCcwQuarterTurns < 4;
}

QImage solid(QRgb c, QSize size = {4, 4})
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(QColor::fromRgba(c));
    return image;
}

const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255);

// Chunks: 0 IHDR, 1 acTL, 2 fcTL, 3 IDAT, 4 fcTL, 5 fdAT, 6 fcTL, 7 fdAT, 8 IEND.
PngChunks three(quint32 plays = 0)
{
    return apngChunks({{solid(red), 10, 100}, {solid(green), 1, 3}, {solid(blue), 0, 0}}, plays);
}

QRgb pixel(const ApngFrame &f, int x, int y)
{
    return reinterpret_cast<const QRgb *>(f.image.constScanLine(y))[x]; // premultiplied
}

struct Composite {
    quint8 dispose0, dispose1, blend1;
    QRgb inside, outside, underneath; // (1,1) in frame 1; (3,3); (1,1) in frame 2
};

// Whatever a file yields must be a usable animation.
bool usable(const std::optional<ApngAnimation> &a)
{
    return !a || (!a->frames.empty() &&
                  std::all_of(a->frames.begin(), a->frames.end(), [&](const ApngFrame &f) {
                      return f.image.size() == a->canvas && f.delayMs > 0 &&
                             f.image.format() == QImage::Format_ARGB32_Premultiplied;
                  }));
}

template <qsizetype N> QByteArray b(const char (&s)[N]) { return QByteArray(s, N - 1); }
QByteArray f32(float v) { return be(std::bit_cast<quint32>(v), 4); }

// A layer section holding only a layer count; a negative one flags the merged alpha.
QByteArray layerCount(qint16 count, bool psb = false) { return be(2, psb ? 8 : 4) + be(count, 2); }

std::optional<QImage> decodePsd(QByteArray file, const PsdLimits &limits = {})
{
    QBuffer buffer(&file);
    return buffer.open(QIODevice::ReadOnly) ? readPsdComposite(buffer, limits) : std::nullopt;
}

using Pixels = QList<QRgba64>;
QRgba64 c8(int r, int g, int b, int a = 255) { return QRgba64::fromRgba(r, g, b, a); }
QRgba64 c16(int r, int g, int b, int a = 0xffff) { return QRgba64::fromRgba64(r, g, b, a); }

QByteArray box(const char *type, const QByteArray &b) { return be(8 + b.size(), 4) + type + b; }
QByteArray fullBox(const char *t, int v, int f, QByteArray b)
{
    return box(t, be(v << 24 | f, 4) + b);
}
QByteArray irot(int angle) { return box("irot", be(angle, 1)); }
QByteArray imir(int bit) { return box("imir", be(bit, 1)); }
QByteArray ispe() { return fullBox("ispe", 0, 0, be(64, 4) + be(48, 4)); }

using Entry = std::pair<quint32, QList<int>>; // an item and 1-based property indices

// A minimal still image file; only the meta box carries anything.
struct Heif {
    QList<QByteArray> properties;
    QList<Entry> entries = {{1, {1}}};
    quint32 primary = 1;
    int ipmaVersion = 0;
    quint32 ipmaFlags = 0;

    QByteArray meta() const
    {
        QByteArray ipma = be(entries.size(), 4);
        for (const Entry &e : entries) {
            ipma += be(e.first, ipmaVersion == 0 ? 2 : 4) + be(e.second.size(), 1);
            for (int index : e.second) // marked essential, which must be masked off
                ipma += (ipmaFlags & 1) ? be(0x8000 | index, 2) : be(0x80 | index, 1);
        }
        const bool wide = primary > 0xffff;
        return fullBox("meta", 0, 0,
                       fullBox("hdlr", 0, 0, be(0, 4) + "pict" + QByteArray(13, 0)) +
                           fullBox("pitm", wide ? 1 : 0, 0, be(primary, wide ? 4 : 2)) +
                           box("iprp", box("ipco", properties.join()) +
                                           fullBox("ipma", ipmaVersion, int(ipmaFlags), ipma)));
    }
    QByteArray file() const { return box("ftyp", "heic" + be(0, 4) + "mif1heic") + meta(); }
};

QByteArray primary(QList<QByteArray> p, QList<int> i) { return Heif{p, {{1, i}}}.file(); }

// 0 when the file is refused.
int exifOf(const QByteArray &file)
{
    const std::optional<HeifItemTransform> t = readHeifPrimaryTransform(QByteArrayView(file));
    return t ? exifOrientation(*t) : 0;
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
        const QImage half = solid(qRgba(0, 0, 255, 128), {2, 2});
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
        const auto readsPsd = [](const QByteArray &b) { return decodePsd(b).has_value(); };
        for (const auto &[name, psd] : {std::pair{"rgba.psd", rgba}, {"deep.psd", deep}}) {
            QVERIFY(readsPsd(psd.bytes()));
            samples.push_back({QLatin1String(name), psd.bytes(), readsPsd, psd.bytes().size()});
        }
        writeFuzzSeeds();
    }

    // Each Exif orientation, and 6 where Qt's readers leave it unapplied (a LONG; PNG, WebP,
    // TIFF): decoding (scaled too) and the properties take the one value Exiv2 reads.
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
        // Stored as, the right half's colour, decoded as (Qt writes palettes with transparency).
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
        const QImage blue = solid(qRgb(0, 0, 255), {40, 30});
        const QList<QImage> images{quadrants(40, 30), blue,
                                   quadrants(40, 30).mirrored(true, false)};
        QVERIFY(writeGif(path(u"anim.gif"_s), images, {5, 20, 30}, 2));
        QVERIFY(writeGif(path(u"still.gif"_s), {images[0]}, {10}));
        QVERIFY(writeAnimatedWebp(path(u"anim.webp"_s), {images[0], blue}, {100, 250}));
        QVERIFY(writeFile(
            path(u"anim.png"_s),
            pngFile(apngChunks({{images[0], 4, 100}, {images[1], 8, 100}, {images[2], 12, 100}}))));
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
    // files decode deep. A 16-bit PNG in linear light keeps the dark ramp across its middle
    // smooth in the preview, not the dozen steps an 8-bit reduction before conversion leaves.
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

    // Thumbnails take a camera's embedded one only when it is large enough (and the histogram
    // with its own minimum: tst_coremodels); the viewer's own decode never does.
    void embeddedThumbnailOnlyWhenLargeEnough()
    {
        const QString name = u"withthumb.jpg"_s;
        QVERIFY(writeImage(path(name), quadrants(800, 600), "JPEG", 90));
        QVERIFY(setExifThumbnail(path(name), solid(qRgb(255, 0, 255), {160, 120})));
        const std::optional<QImage> small = makeThumbnail(url(name), 100);
        QVERIFY(small && std::max(small->width(), small->height()) <= 100);
        QVERIFY(small->pixelColor(50, 30).green() < 60); // the magenta embedded one
        QCOMPARE(makeThumbnail(url(name), 400)->size(), QSize(400, 300));
        QCOMPARE(cornerColours(*makeThumbnail(url(name), 400)), u"RGWB"_s);
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
    // capture setting in its own tag, text only where the tag holds text; also as the Exif
    // item of a HEIC cut off in its media data, whose primary item libheif cannot find.
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
            QCOMPARE(p->tiff->make, std::optional(u"Orva"_s));
            QCOMPARE(p->tiff->model, std::nullopt); // a number, not text
            QCOMPARE(p->exif->dateTimeOriginal, std::optional(u"2024:06:03 16:05:09"_s));
            QCOMPARE(p->exif->isoSpeedRatings, std::optional(QList<int>{400}));
            QCOMPARE(!p->pixelWidth && !p->depth && !p->colorModel, file == heic);
        }
        QCOMPARE(readExifProperties(jpeg)->orientation, std::nullopt); // 9: out of range
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
            const QImage drawn = toDisplayPixels(*decoded->bitmap); // grey of each patch
            QList<int> g;
            for (int i = 0; i < 4; ++i)
                g << qGreen(drawn.pixel(drawn.width() * (2 * i + 1) / 8, drawn.height() / 2));
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
        QVERIFY(writeFile(path(u"p3.png"_s), pngFile(apngChunks({{frames[0]}, {frames[1]}}))));
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

    // Every cut, every one-byte damage to a format with its own parser; random damage for all.
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
        for (const auto &[name, bytes, reason] :
             QList<std::tuple<QString, QByteArray, DecodeFailure>>{
                 {u"nowhere.jpg"_s, QByteArray(), DecodeFailure::missing}, // null: no file
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
    }

    void apngFramesDelaysLoopsAndLimits()
    {
        for (const auto &[plays, loopCount] : {std::pair(0u, -1), {1u, 0}, {3u, 2}}) {
            const auto a = readApng(pngFile(three(plays)));
            QVERIFY(a && usable(a));
            QCOMPARE(a->canvas, QSize(4, 4));
            QCOMPARE(a->loopCount, loopCount);
            QCOMPARE(a->frames.size(), size_t(3));
            const QRgb colours[] = {red, green, blue};
            const int delays[] = {100, 333, 100}; // 10/100 s, 1/3 s, and 0 shown as 100 ms
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(pixel(a->frames[i], 3, 3), colours[i]);
                QCOMPARE(a->frames[i].delayMs, delays[i]);
            }
        }
        QVERIFY(isAnimatedPng(pngFile(three()).first(60))); // the head up to acTL is enough
        const PngChunks c = three();
        const QByteArray plain = pngFile({c[0], c[3], c[8]});
        QVERIFY(!isAnimatedPng(plain) && !readApng(plain)); // Qt decodes plain PNGs itself
        const QByteArray hidden =
            pngFile(apngChunks({{solid(red)}, {solid(blue)}}, 0, solid(green)));
        const auto a = readApng(hidden);
        QVERIFY(isAnimatedPng(hidden) && a && a->frames.size() == 2);
        QCOMPARE(pixel(a->frames[0], 0, 0), red);
        QCOMPARE(pixel(a->frames[1], 0, 0), blue);
        // A 1x1 frame on a 100000 x 100000 canvas: 40 GB per frame if it were allocated.
        const QImage dot = solid(red, {1, 1});
        const QByteArray huge =
            pngFile(apngChunks({{dot}, {solid(blue, {1, 1})}}, 0, dot, {100000, 100000}));
        QVERIFY(!readApng(huge));
        QVERIFY(!readApng(huge, {100'000'000, LLONG_MAX, 10})); // the canvas bound alone
        QVERIFY(!readApng(huge, {LLONG_MAX, 1LL << 30, 10}));   // the total bound alone
        const QByteArray file = pngFile(three());
        QVERIFY(readApng(file, {16, 3 * 16 * 4, 3}));
        QVERIFY(!readApng(file, {15, 3 * 16 * 4, 3}));
        QVERIFY(!readApng(file, {16, 3 * 16 * 4 - 1, 3}));
        QVERIFY(!readApng(file, {16, 3 * 16 * 4, 2}));
    }

    // Frame 0 red; frame 1 half-transparent blue 2x2 at (1,1); frame 2 blue 1x1 at (0,0), over.
    void apngCompositing()
    {
        const QRgb none = 0, over = qRgba(127, 0, 128, 255), alone = qRgba(0, 0, 128, 128);
        for (const Composite &c : {Composite{0, 0, 0, alone, red, alone}, // source
                                   {0, 0, 1, over, red, over},            // over
                                   {0, 1, 1, over, red, none},            // none, background
                                   {0, 2, 1, over, red, red},             // none, previous
                                   {1, 2, 1, alone, none, none},          // background, previous
                                   {2, 0, 1, alone, none, alone}}) {      // first previous clears
            const auto a = readApng(pngFile(apngChunks(
                {{solid(red), 1, 10, {}, c.dispose0},
                 {solid(qRgba(0, 0, 255, 128), {2, 2}), 1, 10, {1, 1}, c.dispose1, c.blend1},
                 {solid(blue, {1, 1}), 1, 10, {0, 0}, 0, 1}})));
            QVERIFY(a && usable(a));
            QCOMPARE(pixel(a->frames[0], 1, 1), red);
            QCOMPARE(pixel(a->frames[1], 1, 1), c.inside);
            QCOMPARE(pixel(a->frames[1], 3, 3), c.outside);
            QCOMPARE(pixel(a->frames[2], 3, 3), c.outside);
            QCOMPARE(pixel(a->frames[2], 1, 1), c.underneath);
            QCOMPARE(pixel(a->frames[2], 0, 0), blue);
        }
    }

    void apngMalformed()
    {
        const auto patched = [](int chunk, int at, const QByteArray &bytes) {
            PngChunks c = three();
            c[chunk].data.replace(at, bytes.size(), bytes);
            return pngFile(c);
        };
        // Structural edits, renumbered so that more than the sequence check must catch them.
        const auto edited = [](const std::function<void(PngChunks &)> &edit) {
            PngChunks c = three();
            edit(c);
            quint32 seq = 0;
            for (auto &chunk : c)
                if (chunk.type == "fcTL" || chunk.type == "fdAT")
                    chunk.data.replace(0, 4, be(seq++, 4));
            return pngFile(c);
        };
        for (const auto &[name, file] : QList<std::pair<const char *, QByteArray>>{
                 {"frame one past the right edge", patched(4, 12, be(1, 4))},
                 {"offset wraps around", patched(4, 16, be(~0u, 4))},
                 {"zero width", patched(6, 4, be(0, 4))},
                 {"first frame smaller than canvas", patched(2, 4, be(2, 4))},
                 {"unknown dispose op", patched(4, 24, "\x03")},
                 {"sequence out of order", patched(4, 0, be(9, 4))},
                 {"more frames announced", patched(1, 0, be(4, 4))},
                 {"fewer frames announced", patched(1, 0, be(2, 4))},
                 {"zero frames announced", patched(1, 0, be(0, 4))},
                 {"frame without data", edited([](PngChunks &c) { c.erase(c.begin() + 5); })},
                 {"fdAT before IDAT", edited([](PngChunks &c) { std::swap(c[3], c[5]); })},
                 {"fdAT continuing the default image",
                  edited([](PngChunks &c) { c.insert(c.begin() + 4, PngChunk(c[5])); })},
                 {"missing IEND", edited([](PngChunks &c) { c.pop_back(); })},
                 {"unknown critical chunk", edited([](PngChunks &c) {
                      c.insert(c.begin() + 1, {QByteArray("ABCD"), QByteArray("x")});
                  })}})
            QVERIFY2(!readApng(file), name);
    }

    void psdDecoding()
    {
        const QByteArray lr16 = "8BIMLr16" + be(4, 8) + be(-3, 2) + QByteArray(2, 0);
        struct Row {
            int version, compression;
            QByteArray layers;
            bool alpha;
        };
        for (const auto &[version, compression, layers, alpha] :
             {Row{1, 0, layerCount(1) + "padding", false},      // PSD raw
              Row{1, 1, layerCount(-1), true},                  // PSD RLE, alpha
              Row{2, 0, be(0, 8) + be(0, 4) + lr16, true},      // PSB raw, Lr16 alpha
              Row{2, 1, layerCount(1, true) + "pad", false}}) { // PSB RLE, u32 counts
            QImage source(300, 5, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
            std::vector<QByteArray> planes(alpha ? 4 : 3); // a gradient
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 300; ++x) {
                    const int v[] = {x * 7, y * 40, x < 150 ? 200 : x * y, x * 13 + y};
                    source.setPixel(x, y, qRgba(v[0], v[1], v[2], v[3]));
                    for (size_t c = 0; c < planes.size(); ++c)
                        planes[c] += char(v[c]);
                }
            const Psd p{300, 5, 8, 3, planes, layers, version, compression};
            QCOMPARE(decodePsd(p.bytes()).value_or(QImage()), source);
        }
        // The first row's pixels; Format_Invalid: refused.
        const auto check = [](const char *name, const QByteArray &file, QImage::Format format,
                              const Pixels &pixels = {}) {
            const QImage image = decodePsd(file).value_or(QImage());
            QVERIFY2(image.format() == format, name);
            for (int x = 0; x < pixels.size(); ++x)
                QVERIFY2(quint64(image.pixelColor(x, 0).rgba64()) == quint64(pixels[x]), name);
        };
        check("RGB 16-bit keeps its depth",
              Psd{2, 1, 16, 3, {b("\x12\x34\0\1"), b("\xab\xcd\0\2"), b("\xff\xff\0\3")}}.bytes(),
              QImage::Format_RGBX64, {c16(0x1234, 0xabcd, 0xffff), c16(1, 2, 3)});
        const QByteArray grey =
            Psd{2, 1, 32, 1, {f32(0.25f) + f32(std::numeric_limits<float>::quiet_NaN())}}.bytes();
        check("grey float, NaN as 0", grey, QImage::Format_RGBX32FPx4,
              {c16(16384, 16384, 16384), c16(0, 0, 0)});
        const QImage linear = decodePsd(grey).value_or(QImage());
        QCOMPARE(linear.colorSpace().transferFunction(), QColorSpace::TransferFunction::Linear);
        QCOMPARE(reinterpret_cast<const float *>(linear.constScanLine(0))[4], 0.0f); // no NaN
        check("bitmap", Psd{10, 1, 1, 0, {b("\xa0\x40")}}.bytes(), QImage::Format_Mono,
              {c8(0, 0, 0), c8(255, 255, 255), c8(0, 0, 0), c8(255, 255, 255)});
        const std::vector cmyka{b("\xff\x00\xff\xff"), b("\xff\xff\xff\x80"), b("\xff\xff\xff\x00"),
                                b("\xff\xff\x00\x80"), b("\x01\x02\x03\x04")};
        check("CMYK (inverted inks) and alpha", Psd{4, 1, 8, 4, cmyka, layerCount(-1)}.bytes(),
              QImage::Format_ARGB32,
              {c8(255, 255, 255, 1), c8(0, 255, 255, 2), c8(0, 0, 0, 3), c8(128, 64, 0, 4)});
        Psd indexed{3, 1, 8, 2, {b("\x00\x01\x02")}};
        for (int i = 0; i < 768; ++i)
            indexed.modeData += char(i < 256 ? i : i < 512 ? 255 - i % 256 : 7);
        // The transparency index.
        indexed.resources = "8BIM" + be(1047, 2) + QByteArray(2, 0) + be(2, 4) + be(1, 2);
        check("indexed", indexed.bytes(), QImage::Format_Indexed8,
              {c8(0, 255, 7), c8(1, 254, 7, 0), c8(2, 253, 7)});
        const auto bad = [&](const char *name, int width, int depth, int mode, int version = 1) {
            // Whole rows of samples, so that only the refused header stands in the way.
            const auto planes = std::vector(mode == 4 ? 4 : 1, QByteArray(width * 2, 'x'));
            check(name, Psd{width, 1, depth, mode, planes, {}, version}.bytes(),
                  QImage::Format_Invalid);
        };
        bad("PSD too wide", 30001, 8, 1);
        bad("PSB too wide", 300001, 8, 1, 2);
        bad("version 3", 4, 8, 1, 3);
        bad("depth 12", 4, 12, 1);
        bad("mode 5", 4, 8, 5);
        bad("indexed, no palette", 4, 8, 2);
        const QByteArray ok = Psd{2, 1, 8, 1, {"12"}}.bytes();
        // RLE rows (4 pixels wide) that overrun their row, their count or the file.
        const QByteArray rle = Psd{4, 1, 8, 1, {}}.bytes().chopped(2) + be(1, 2);
        for (const auto &[name, file] : QList<std::pair<const char *, QByteArray>>{
                 {"ZIP", ok.left(38) + be(2, 2) + ok.mid(40)},
                 {"bad signature", "8BPX" + ok.mid(4)},
                 {"colour mode data past the end", ok.left(26) + be(1000, 4) + ok.mid(30)},
                 {"resources past the end", ok.left(30) + be(1000, 4) + ok.mid(34)},
                 {"layer section past the end", ok.left(34) + be(1000, 4) + ok.mid(38)},
                 {"RLE repeat past the row", rle + be(2, 2) + "\xfbz"},
                 {"RLE repeat one past the row", rle + be(2, 2) + "\xfcz"},
                 {"RLE literal one past the row", rle + be(6, 2) + "\x04vwxyz"},
                 {"RLE literal past its count", rle + be(3, 2) + "\x03wxyz"},
                 {"RLE count past the file", rle + be(200, 2) + "\x03wxyz"}})
            check(name, file, QImage::Format_Invalid);

        const QByteArray gray = Psd{100, 100, 8, 1, {QByteArray(10000, 'x')}}.bytes();
        QVERIFY(decodePsd(gray, {10000, 10000}));
        QVERIFY(!decodePsd(gray, {9999, 10000}));
        QVERIFY(!decodePsd(gray, {10000, 9999}));
        // Unbounded, the file's own size must still refuse 300000x300000 before allocating.
        Psd huge{300000, 300000, 8, 1, {QByteArray(100, 'x')}, {}, 2};
        for (int compression : {0, 1}) {
            huge.compression = compression;
            QByteArray bytes = huge.bytes();
            QBuffer buffer(&bytes);
            QVERIFY(buffer.open(QIODevice::ReadOnly) && readPsdHeader(buffer));
            QVERIFY(!decodePsd(bytes));
            QVERIFY(!decodePsd(bytes, {LLONG_MAX, LLONG_MAX}));
        }
    }

    // Expected orientations are what libheif 1.15 displays for the same properties; 0: refused.
    void heifOrientation()
    {
        const auto expect = [](const char *name, const QByteArray &file, int exif) {
            QVERIFY2(exifOf(file) == exif,
                     qPrintable(u"%1: %2"_s.arg(QLatin1String(name)).arg(exifOf(file))));
        };
        expect("none", primary({ispe()}, {1}), 1);
        for (int a = 0; a < 4; ++a)
            expect("irot", primary({ispe(), irot(a)}, {1, 2}), QList{1, 8, 3, 6}[a]);
        expect("imir 0", primary({imir(0)}, {1}), 4);
        expect("imir 1", primary({imir(1)}, {1}), 2);
        expect("irot 1, imir 0", primary({irot(1), imir(0)}, {1, 2}), 5);
        expect("imir 0, irot 1", primary({irot(1), imir(0)}, {2, 1}), 7);
        expect("two entries for the primary", Heif{{irot(1), imir(1)}, {{1, {1}}, {1, {2}}}}.file(),
               0);
        expect("other items before and after",
               Heif{{irot(1), imir(1)}, {{2, {1}}, {1, {2}}, {3, {1}}}}.file(), 2);
        expect("v1, 32-bit ids",
               Heif{{ispe(), irot(1)}, {{1, {2}}, {0x10002, {1, 2}}}, 0x10002, 1}.file(), 8);
        expect("15-bit indices",
               Heif{QList<QByteArray>(199, ispe()) << irot(3), {{1, {200}}}, 1, 0, 1}.file(), 6);
        const QByteArray meta = Heif{{irot(2)}}.meta(), ftyp = box("ftyp", "avif") + be(1, 4);
        expect("largesize meta", ftyp + "meta" + be(meta.size() + 8, 8) + meta.mid(8), 3);
        expect("largesize mdat first", ftyp + "mdat" + be(17, 8) + "x" + meta, 3);
        const QByteArray free = ftyp + "free";
        expect("2^62 bytes before meta", free + be(quint64(1) << 62, 8) + meta, 0);
        expect("2^64-1 bytes before meta", free + be(~0ull, 8) + meta, 0);
        expect("index past ipco", primary({irot(1)}, {2}), 0);
        expect("empty irot", primary({box("irot", {})}, {1}), 0);
        const QByteArray good = Heif{{irot(1)}}.file();
        QByteArray overlong = good; // irot swallows the first byte of ipma
        overlong.replace(irot(1), be(10, 4) + "irot" + be(1, 1));
        expect("property overrunning ipco", overlong, 0);
        QByteArray lying = good;
        lying.replace(be(1, 4) + be(1, 2) + be(1, 1), be(0x7fffffff, 4) + be(1, 2) + be(1, 1));
        expect("lying entry count", lying, 0);
        QByteArray overrun = good; // ipma ends the file: its last entry claims 127 associations
        overrun[overrun.size() - 2] = 127;
        expect("associations past ipma", overrun, 0);
        // What the writer stores for each orientation reads back as it.
        for (int o = 1; o <= 8; ++o) {
            const HeifItemTransform t = heifTransformFor(o);
            QCOMPARE(exifOrientation(t), o);
            Heif h{{ispe(), irot(t.rotationCcwQuarterTurns)}, {{1, {1, 2}}}};
            if (t.mirror) {
                h.properties << imir(int(*t.mirror));
                h.entries[0].second.insert(t.mirrorFirst ? 1 : 2, 3);
            }
            QCOMPARE(exifOf(h.file()), o);
        }
        QVERIFY(heifTransformFor(0) == HeifItemTransform{} &&
                heifTransformFor(9) == HeifItemTransform{});
        // Read from a device, from where it stands, leaving it there.
        QByteArray bytes = primary({irot(1), imir(1)}, {2, 1});
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly) && buffer.seek(5));
        QCOMPARE(readHeifPrimaryTransform(buffer),
                 (HeifItemTransform{1, HeifMirror::LeftRight, true}));
        QCOMPARE(buffer.pos(), 5);
    }

    // The frame header found behind a Huffman table, as progressive writers order them,
    // with 4:2:2 sampling (twice across, once down).
    void jpegFrameHeaderAndCoefficientBuffers()
    {
        QByteArray bytes =
            QByteArray::fromHex("ffd8ffc400040000ffc20011080010002003012100021101031101");
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const auto f = readJpegFrame(buffer);
        QVERIFY(f && f->progressive);
        QCOMPARE(QSize(f->width, f->height), QSize(32, 16));
        QCOMPARE(f->components.size(), 3);
        QCOMPARE(QSize(f->components[0].h, f->components[0].v), QSize(2, 1));
        QCOMPARE(QSize(f->components[1].h, f->components[1].v), QSize(1, 1));
        using C = QList<JpegFrame::Component>;
        const C grey{{1, 1}}, rgb{{1, 1}, {1, 1}, {1, 1}}, yuv420{{2, 2}, {1, 1}, {1, 1}};
        // The panorama that ended a laptop's session: 2813 x 4163 blocks of 128 bytes, thrice.
        // At 4:2:0 chroma is half size, planes padded to whole MCUs; baseline buffers nothing.
        for (const auto &[frame, bytes] :
             {std::pair(JpegFrame{12000, 12000, true, grey}, qint64(288'000'000)),
              {JpegFrame{22500, 33300, true, rgb}, qint64(4'496'839'296)},
              {JpegFrame{100, 100, true, yuv420}, qint64(14 * 14 * 128 + 2 * 7 * 7 * 128)},
              {JpegFrame{12000, 12000, false, rgb}, qint64(0)}})
            QCOMPARE(jpegCoefficientBytes(frame), bytes);
    }

    void everyPixelLandsWhereTheTurnPutsIt()
    {
        const auto at = [](const QImage &i, int x, int y) {
            return QByteArrayView(i.constScanLine(y) + x * i.depth() / 8, i.depth() / 8);
        };
        const int w = 70, h = 67; // crosses the tile edges, not square
        // RGB888 has no vector-friendly layout.
        for (const auto format :
             {QImage::Format_Grayscale8, QImage::Format_Grayscale16, QImage::Format_RGB888,
              QImage::Format_ARGB32, QImage::Format_BGR30, QImage::Format_RGBA64,
              QImage::Format_RGBA32FPx4})
            for (int turns : {1, 2, 3, -1}) {
                QImage src(w, h, format);
                quint32 seed = 1;
                for (qsizetype i = 0; i < src.sizeInBytes(); ++i)
                    src.bits()[i] = uchar((seed = seed * 1664525u + 1013904223u) >> 24);
                const auto out = rotateBitmap(src, turns);
                QVERIFY(out);
                QCOMPARE(out->format(), format);
                const int t = turns & 3;
                QCOMPARE(out->size(), t == 2 ? src.size() : src.size().transposed());
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const int r = t == 1 ? x : t == 2 ? h - 1 - y : w - 1 - x;
                        const int c = t == 1 ? h - 1 - y : t == 2 ? w - 1 - x : y;
                        if (at(*out, c, r) != at(src, x, y))
                            QFAIL(qPrintable(
                                u"format %1, turn %2: pixel %3,%4 misplaced"_s.arg(format)
                                    .arg(turns)
                                    .arg(x)
                                    .arg(y)));
                    }
            }
        // A decoded animation (a preview of a larger image) turns into a still.
        auto anim = std::make_shared<DisplayImage>();
        anim->pointSize = QSizeF(4000, 2000);
        anim->frames = {{solid(red, {40, 20}), 100}, {solid(blue, {40, 20}), 100}};
        const auto still = rotateDecodedImage(DecodedImage{anim, std::nullopt, anim, 0.01}, 3);
        QVERIFY(still && still->bitmap && !still->image->isAnimated());
        QCOMPARE(still->image->pointSize, QSizeF(2000, 4000));
        QCOMPARE(still->preview->pointSize, QSizeF(2000, 4000));
        QCOMPARE(still->bitmap->size(), QSize(20, 40));
        QCOMPARE(still->resolution, 0.01);
    }
};
QTEST_GUILESS_MAIN(TestImageFiles)
#include "tst_imagefiles.moc"
