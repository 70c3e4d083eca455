// The image layer's own parsers on bytes built in memory: APNG, Photoshop, HEIF boxes, JPEG
// frame headers, the depth and colour model of headers, and bitmap rotation.
#include "imageio/ApngReader.h"
#include "imageio/HeifBoxes.h"
#include "imageio/ImageHeaders.h"
#include "imageio/JpegHeader.h"
#include "imageio/PsdReader.h"
#include "imageio/Rotation.h"
#include "support/ImageFixtures.h"

#include <QBuffer>
#include <QColorSpace>
#include <QtTest>

#include <bit>
#include <limits>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

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

QByteArray pngHead(int depth, int colourType)
{
    return b("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x20\0\0\0\x20") + char(depth) +
           char(colourType) + QByteArray(3, '\0');
}

// A BMP file header and an info header of `headerSize` bytes (masks after the first 40).
QByteArray bmpHead(int bits, quint32 compression = 0, QList<quint32> masks = {},
                   quint32 headerSize = 40)
{
    QByteArray h = "BM" + le(0, 12) + le(headerSize, 4);
    if (headerSize == 12)
        return h + le(8, 2) + le(8, 2) + le(1, 2) + le(bits, 2);
    h += le(8, 4) + le(8, 4) + le(1, 2) + le(bits, 2) + le(compression, 4) + le(0, 20);
    for (quint32 m : masks)
        h += le(m, 4);
    return h;
}

} // namespace

class TestImageReaders : public QObject {
    Q_OBJECT

private slots:
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
        // At 4:2:0, chroma is half size both ways, every plane padded to whole MCUs; baseline
        // files buffer no coefficients.
        for (const auto &[frame, bytes] :
             {std::pair(JpegFrame{12000, 12000, true, grey}, qint64(288'000'000)),
              {JpegFrame{22500, 33300, true, rgb}, qint64(4'496'839'296)},
              {JpegFrame{100, 100, true, yuv420}, qint64(14 * 14 * 128 + 2 * 7 * 7 * 128)},
              {JpegFrame{12000, 12000, false, rgb}, qint64(0)}})
            QCOMPARE(jpegCoefficientBytes(frame), bytes);
    }

    // 0: no depth; -1: not read here.
    void depthAndModelOfHeaders()
    {
        const auto expect = [](const char *name, const QByteArray &head, int depth,
                               const QString &model = u"RGB"_s) {
            const auto read = depthAndModelFromHeader(head);
            QVERIFY2(read.has_value() == (depth >= 0), name);
            QVERIFY2(!read || (read->depth.value_or(0) == depth &&
                               read->model.value_or(QString()) == model),
                     name);
        };
        expect("PNG grey + alpha 16", pngHead(16, 4), 16, u"Gray"_s);
        expect("PNG palette 4-bit", pngHead(4, 3), 4);
        expect("PNG odd depth", pngHead(7, 2), 0);
        expect("PNG cut in IHDR", pngHead(8, 4).left(20), 0, {});
        expect("GIF87a", b("GIF87a\x10\0\x10\0\x84"), 8);
        expect("WebP", b("RIFF\0\0\0\0WEBPVP8L"), 8);
        expect("RIFF, not WebP", b("RIFF\0\0\0\0WAVEfmt "), -1);
        expect("BMP 4-bit palette", bmpHead(4), 4);
        expect("BMP 16-bit 5-5-5", bmpHead(16), 5);
        expect("BMP 16-bit 5-6-5 fields", bmpHead(16, 3, {0xf800, 0x07e0, 0x001f}), 6);
        expect("BMP V5 32-bit 10-10-10", bmpHead(32, 3, {0x3ff00000, 0x000ffc00, 0x000003ff}, 124),
               10);
        expect("BMP OS/2 core 8-bit", bmpHead(8, 0, {}, 12), 8);
        expect("BMP embedded JPEG", bmpHead(24, 4), 0);
        expect("BMP unknown header", bmpHead(8, 0, {}, 20), 0, {});
        expect("JPEG is not read here", b("\xff\xd8\xff\xe0"), -1);
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

QTEST_GUILESS_MAIN(TestImageReaders)
#include "tst_imagereaders.moc"
