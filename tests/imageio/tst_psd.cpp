#include "imageio/PsdReader.h"
#include "support/ImageFixtures.h"

#include <QBuffer>
#include <QColorSpace>
#include <QtEndian>
#include <QtTest>

#include <limits>
#include <vector>

using namespace orva;
using orva::test::Psd;

namespace {

template <typename T> QByteArray be(T v)
{
    QByteArray bytes(sizeof(T), Qt::Uninitialized);
    qToBigEndian(v, bytes.data());
    return bytes;
}

template <qsizetype N> QByteArray b(const char (&s)[N]) { return QByteArray(s, N - 1); }

template <typename... T> QByteArray be16s(T... v) { return (QByteArray() + ... + be<quint16>(v)); }

// A layer section holding only a layer count; a negative one flags the merged alpha.
QByteArray layerCount(qint16 count, bool psb = false)
{
    return (psb ? be<quint64>(2) : be<quint32>(2)) + be(count);
}

// An RGB(A) file of a w x h gradient, and the image it holds.
std::pair<Psd, QImage> rgbPsd(int w, int h, bool alpha)
{
    QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    std::vector<QByteArray> planes(alpha ? 4 : 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v[] = {x * 7, y * 40, x < w / 2 ? 200 : x * y, x * 13 + y};
            image.setPixel(x, y, qRgba(v[0], v[1], v[2], v[3]));
            for (size_t c = 0; c < planes.size(); ++c)
                planes[c] += char(v[c]);
        }
    return {{w, h, 8, 3, planes}, image};
}

std::optional<QImage> decode(QByteArray file, const PsdLimits &limits = {})
{
    QBuffer buffer(&file);
    return buffer.open(QIODevice::ReadOnly) ? readPsdComposite(buffer, limits) : std::nullopt;
}

std::optional<PsdHeader> header(QByteArray file)
{
    QBuffer buffer(&file);
    return buffer.open(QIODevice::ReadOnly) ? readPsdHeader(buffer) : std::nullopt;
}

using Pixels = QList<QRgba64>;
QRgba64 c8(int r, int g, int b, int a = 255) { return QRgba64::fromRgba(r, g, b, a); }
QRgba64 c16(int r, int g, int b, int a = 0xffff) { return QRgba64::fromRgba64(r, g, b, a); }

} // namespace

class TestPsd : public QObject {
    Q_OBJECT

private slots:
    void rgb8_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("compression");
        QTest::addColumn<QByteArray>("layers");
        QTest::addColumn<bool>("alpha");
        const QByteArray lr16 = "8BIMLr16" + be<quint64>(4) + be<qint16>(-3) + QByteArray(2, 0);
        QTest::newRow("PSD raw") << 1 << 0 << layerCount(1) + "padding" << false;
        QTest::newRow("PSD RLE, alpha") << 1 << 1 << layerCount(-1) << true;
        QTest::newRow("PSB raw, Lr16 alpha")
            << 2 << 0 << be<quint64>(0) + be<quint32>(0) + lr16 << true;
        QTest::newRow("PSB RLE, u32 counts") << 2 << 1 << layerCount(1, true) + "pad" << false;
    }
    void rgb8()
    {
        QFETCH(int, version);
        QFETCH(int, compression);
        QFETCH(QByteArray, layers);
        QFETCH(bool, alpha);
        auto [p, source] = rgbPsd(300, 5, alpha);
        p.version = version;
        p.compression = compression;
        p.layers = layers;
        QCOMPARE(decode(p.bytes()).value_or(QImage()), source);
    }

    void decoding_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("format");    // Format_Invalid: refused
        QTest::addColumn<Pixels>("pixels"); // the first row
        const auto row = [](const char *name, const Psd &p, QImage::Format f, const Pixels &px) {
            QTest::newRow(name) << p.bytes() << int(f) << px;
        };
        const auto refused = [](const char *name, const QByteArray &file) {
            QTest::newRow(name) << file << 0 << Pixels();
        };
        row("RGB 16-bit keeps its depth",
            Psd{2, 1, 16, 3, {be16s(0x1234, 1), be16s(0xabcd, 2), be16s(0xffff, 3)}},
            QImage::Format_RGBX64, {c16(0x1234, 0xabcd, 0xffff), c16(1, 2, 3)});
        row("gray float, NaN as 0",
            Psd{2, 1, 32, 1, {be(0.25f) + be(std::numeric_limits<float>::quiet_NaN())}},
            QImage::Format_RGBX32FPx4, {c16(16384, 16384, 16384), c16(0, 0, 0)});
        row("bitmap", Psd{10, 1, 1, 0, {b("\xa0\x40")}}, QImage::Format_Mono,
            {c8(0, 0, 0), c8(255, 255, 255), c8(0, 0, 0), c8(255, 255, 255)});
        const std::vector cmyka{b("\xff\x00\xff\xff"), b("\xff\xff\xff\x80"), b("\xff\xff\xff\x00"),
                                b("\xff\xff\x00\x80"), b("\x01\x02\x03\x04")};
        row("CMYK (inverted inks) and alpha", Psd{4, 1, 8, 4, cmyka, layerCount(-1)},
            QImage::Format_ARGB32,
            {c8(255, 255, 255, 1), c8(0, 255, 255, 2), c8(0, 0, 0, 3), c8(128, 64, 0, 4)});
        Psd indexed{3, 1, 8, 2, {b("\x00\x01\x02")}};
        for (int i = 0; i < 768; ++i)
            indexed.modeData += char(i < 256 ? i : i < 512 ? 255 - i % 256 : 7);
        indexed.resources = "8BIM" + be<quint16>(1047) + QByteArray(2, 0) + be<quint32>(2) +
                            be<quint16>(1); // the transparency index
        row("indexed", indexed, QImage::Format_Indexed8,
            {c8(0, 255, 7), c8(1, 254, 7, 0), c8(2, 253, 7)});
        const auto bad = [&](const char *name, int width, int depth, int mode, int version = 1) {
            // Whole rows of samples, so that only the refused header stands in the way.
            const auto planes = std::vector(mode == 4 ? 4 : 1, QByteArray(width * 2, 'x'));
            refused(name, Psd{width, 1, depth, mode, planes, {}, version}.bytes());
        };
        bad("PSD too wide", 30001, 8, 1);
        bad("PSB too wide", 300001, 8, 1, 2);
        bad("version 3", 4, 8, 1, 3);
        bad("depth 12", 4, 12, 1);
        bad("mode 5", 4, 8, 5);
        bad("indexed, no palette", 4, 8, 2);
        const QByteArray ok = Psd{2, 1, 8, 1, {"12"}}.bytes();
        refused("ZIP", ok.left(38) + be<quint16>(2) + ok.mid(40));
        refused("bad signature", "8BPX" + ok.mid(4));
        for (int at : {26, 30, 34}) // colour mode data, resources, layer section past the end
            QTest::addRow("section at %d past the end", at)
                << ok.left(at) + be<quint32>(1000) + ok.mid(at + 4) << 0 << Pixels();
        // RLE rows (4 pixels wide) that overrun their row, their count or the file.
        const QByteArray rle = Psd{4, 1, 8, 1, {}}.bytes().chopped(2) + be<quint16>(1);
        refused("RLE repeat past the row", rle + be<quint16>(2) + "\xfbz");
        refused("RLE repeat one past the row", rle + be<quint16>(2) + "\xfcz");
        refused("RLE literal one past the row", rle + be<quint16>(6) + "\x04vwxyz");
        refused("RLE literal past its count", rle + be<quint16>(3) + "\x03wxyz");
        refused("RLE count past the file", rle + be<quint16>(200) + "\x03wxyz");
    }
    void decoding()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, format);
        QFETCH(Pixels, pixels);
        const QImage image = decode(file).value_or(QImage());
        QCOMPARE(int(image.format()), format);
        for (int x = 0; x < pixels.size(); ++x)
            QCOMPARE(quint64(image.pixelColor(x, 0).rgba64()), quint64(pixels[x]));
        if (format == QImage::Format_RGBX32FPx4) {
            QCOMPARE(image.colorSpace().transferFunction(), QColorSpace::TransferFunction::Linear);
            QCOMPARE(reinterpret_cast<const float *>(image.constScanLine(0))[4], 0.0f); // no NaN
        }
    }

    void limits()
    {
        const QByteArray gray = Psd{100, 100, 8, 1, {QByteArray(10000, 'x')}}.bytes();
        QVERIFY(decode(gray, {10000, 10000}));
        QVERIFY(!decode(gray, {9999, 10000}));
        QVERIFY(!decode(gray, {10000, 9999}));
        // Unbounded, the file's own size must still refuse 300000x300000 before allocating.
        Psd huge{300000, 300000, 8, 1, {QByteArray(100, 'x')}, {}, 2};
        for (int compression : {0, 1}) {
            huge.compression = compression;
            QVERIFY(header(huge.bytes()));
            QVERIFY(!decode(huge.bytes()));
            QVERIFY(!decode(huge.bytes(), {LLONG_MAX, LLONG_MAX}));
        }
    }
};

QTEST_GUILESS_MAIN(TestPsd)
#include "tst_psd.moc"
