#include "imageio/PsdReader.h"

#include <QBuffer>
#include <QColorSpace>
#include <QtEndian>
#include <QtTest>

#include <limits>
#include <vector>

using namespace orva;

namespace {

template <typename T> QByteArray be(T v)
{
    QByteArray bytes(sizeof(T), Qt::Uninitialized);
    qToBigEndian(v, bytes.data());
    return bytes;
}

// A byte string literal with its NULs.
template <qsizetype N> QByteArray b(const char (&s)[N]) { return QByteArray(s, N - 1); }

QByteArray be16s(std::initializer_list<quint16> values)
{
    QByteArray out;
    for (quint16 v : values)
        out += be(v);
    return out;
}

// PackBits as Photoshop writes it: runs of three or more repeat, the rest are literals.
QByteArray packBits(const QByteArray &row)
{
    QByteArray out;
    const auto runAt = [&](qsizetype i) {
        qsizetype n = 1;
        while (i + n < row.size() && n < 128 && row[i + n] == row[i])
            ++n;
        return n;
    };
    for (qsizetype i = 0; i < row.size();) {
        if (const qsizetype run = runAt(i); run >= 3) {
            out += char(1 - run) + QByteArray(1, row[i]);
            i += run;
            continue;
        }
        qsizetype n = 0;
        while (i + n < row.size() && n < 128 && runAt(i + n) < 3)
            ++n;
        out += char(n - 1) + row.mid(i, n);
        i += n;
    }
    return out;
}

struct Psd {
    int width = 1, height = 1, depth = 8, mode = 3, version = 1, compression = 0;
    int channels = -1;              // -1: one per plane
    std::vector<QByteArray> planes; // each: `height` rows of big-endian samples
    QByteArray modeData, resources, layers;

    QByteArray bytes() const
    {
        const bool psb = version == 2;
        QByteArray out = "8BPS" + be<quint16>(version) + QByteArray(6, 0) +
                         be<quint16>(channels < 0 ? planes.size() : channels) +
                         be<quint32>(height) + be<quint32>(width) + be<quint16>(depth) +
                         be<quint16>(mode);
        out += be<quint32>(modeData.size()) + modeData + be<quint32>(resources.size()) + resources;
        out += (psb ? be<quint64>(layers.size()) : be<quint32>(layers.size())) + layers;
        out += be<quint16>(compression);
        QByteArray table, data;
        for (const QByteArray &plane : planes) {
            const qsizetype rowBytes = plane.size() / height;
            for (int y = 0; y < height && compression == 1; ++y) {
                const QByteArray packed = packBits(plane.mid(y * rowBytes, rowBytes));
                table += psb ? be<quint32>(packed.size()) : be<quint16>(packed.size());
                data += packed;
            }
            if (compression != 1)
                data += plane;
        }
        return out + table + data;
    }
};

Psd psd(int width, int depth, int mode, std::vector<QByteArray> planes, QByteArray layers = {})
{
    Psd p;
    p.width = width;
    p.height = planes.empty() ? 1 : std::max(1, int(planes[0].size() * 8 / depth / width));
    p.depth = depth;
    p.mode = mode;
    p.planes = std::move(planes);
    p.layers = std::move(layers);
    return p;
}

// A layer section holding only a layer count; a negative one flags the merged alpha.
QByteArray layerCount(qint16 count, bool psb = false)
{
    return (psb ? be<quint64>(2) : be<quint32>(2)) + be(count);
}

QImage sampleImage(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(x * 7, y * 40, x < w / 2 ? 200 : x * y, x * 13 + y));
    return image;
}

Psd rgbPsd(const QImage &image, int channels)
{
    std::vector<QByteArray> planes(channels);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const int v[] = {qRed(p), qGreen(p), qBlue(p), qAlpha(p)};
            for (int c = 0; c < channels; ++c)
                planes[c] += char(v[c]);
        }
    return psd(image.width(), 8, 3, planes);
}

// A pipe: it can neither seek nor tell its size.
class Pipe : public QIODevice {
public:
    explicit Pipe(const QByteArray &data) : m_data(data) { open(ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *out, qint64 max) override
    {
        const qint64 n = std::min(max, qint64(m_data.size()) - m_pos);
        std::memcpy(out, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_pos = 0;
};

std::optional<QImage> decode(const QByteArray &file, const PsdLimits &limits = {},
                             const std::function<bool()> &isCancelled = {})
{
    QBuffer buffer;
    buffer.setData(file);
    buffer.open(QIODevice::ReadOnly);
    return readPsdComposite(buffer, limits, isCancelled);
}

std::optional<QImage> decodePiped(const QByteArray &file)
{
    Pipe pipe(file);
    return readPsdComposite(pipe);
}

std::optional<PsdHeader> header(QByteArray file)
{
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    return readPsdHeader(buffer);
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
        QTest::newRow("PSD raw") << 1 << 0;
        QTest::newRow("PSD RLE") << 1 << 1;
        QTest::newRow("PSB raw") << 2 << 0;
        QTest::newRow("PSB RLE, u32 counts") << 2 << 1;
    }
    void rgb8()
    {
        QFETCH(int, version);
        QFETCH(int, compression);
        const QImage source = sampleImage(300, 5).convertToFormat(QImage::Format_RGB32);
        Psd p = rgbPsd(source, 3);
        p.version = version;
        p.compression = compression;
        p.layers = layerCount(1, version == 2) + "padding"; // skipped as a whole
        QCOMPARE(decode(p.bytes()).value_or(QImage()), source);
        QCOMPARE(decodePiped(p.bytes()).value_or(QImage()), source);
    }

    void mergedAlpha_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QByteArray>("layers");
        QTest::addColumn<bool>("alpha");
        const QByteArray lr16 = "8BIMLr16" + be<quint32>(4) + be<qint16>(-3) + QByteArray(2, 0);
        const QByteArray lr16Psb = "8BIMLr16" + be<quint64>(4) + be<qint16>(-3) + QByteArray(2, 0);
        QTest::newRow("no layer section") << 1 << QByteArray() << false;
        QTest::newRow("layer count -1") << 1 << layerCount(-1) << true;
        QTest::newRow("Lr16 block") << 1 << be<quint32>(0) + be<quint32>(0) + lr16 << true;
        QTest::newRow("PSB Lr16 block") << 2 << be<quint64>(0) + be<quint32>(0) + lr16Psb << true;
    }
    void mergedAlpha()
    {
        QFETCH(int, version);
        QFETCH(QByteArray, layers);
        QFETCH(bool, alpha);
        const QImage source = sampleImage(40, 3);
        Psd p = rgbPsd(source, 4);
        p.version = version;
        p.layers = layers;
        QCOMPARE(decode(p.bytes()).value_or(QImage()),
                 source.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32));
    }

    void modes_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("format");
        QTest::addColumn<Pixels>("pixels"); // the first row
        const auto row = [](const char *name, const Psd &p, QImage::Format f, const Pixels &px) {
            QTest::newRow(name) << p.bytes() << int(f) << px;
        };
        const QByteArray rgb16[] = {be16s({0x1234, 1}), be16s({0xabcd, 2}), be16s({0xffff, 3}),
                                    be16s({0x8000, 4})};
        row("RGB 16-bit keeps its depth", psd(2, 16, 3, {rgb16[0], rgb16[1], rgb16[2]}),
            QImage::Format_RGBX64, {c16(0x1234, 0xabcd, 0xffff), c16(1, 2, 3)});
        row("RGBA 16-bit", psd(1, 16, 3, {rgb16[0], rgb16[1], rgb16[2], rgb16[3]}, layerCount(-1)),
            QImage::Format_RGBA64, {c16(0x1234, 0xabcd, 0xffff, 0x8000)});
        row("gray", psd(3, 8, 1, {b("\x10\x80\xff")}), QImage::Format_Grayscale8,
            {c8(16, 16, 16), c8(128, 128, 128), c8(255, 255, 255)});
        row("multichannel: inks, not alpha", psd(1, 8, 7, {b("\x80"), b("\x20")}, layerCount(-1)),
            QImage::Format_Grayscale8, {c8(128, 128, 128)});
        row("gray 16-bit", psd(1, 16, 1, {be16s({0x1234})}), QImage::Format_Grayscale16,
            {c16(0x1234, 0x1234, 0x1234)});
        row("gray float, NaN as 0",
            psd(2, 32, 1, {be(0.25f) + be(std::numeric_limits<float>::quiet_NaN())}),
            QImage::Format_RGBX32FPx4, {c16(16384, 16384, 16384), c16(0, 0, 0)});
        row("bitmap", psd(10, 1, 0, {b("\xa0\x40")}), QImage::Format_Mono,
            {c8(0, 0, 0), c8(255, 255, 255), c8(0, 0, 0), c8(255, 255, 255)});
        // Stored inks are inverted: 255 is none.
        row("CMYK and alpha",
            psd(4, 8, 4,
                {b("\xff\x00\xff\xff"), b("\xff\xff\xff\x80"), b("\xff\xff\xff\x00"),
                 b("\xff\xff\x00\x80"), b("\x01\x02\x03\x04")},
                layerCount(-1)),
            QImage::Format_ARGB32,
            {c8(255, 255, 255, 1), c8(0, 255, 255, 2), c8(0, 0, 0, 3), c8(128, 64, 0, 4)});
        row("CMYK 16-bit",
            psd(1, 16, 4, {be16s({0xffff}), be16s({0x8000}), be16s({0}), be16s({0x8000})}),
            QImage::Format_RGBX64, {c16(0x8000, 0x4000, 0)});
        row("Lab, L* 100, 0, 50",
            psd(3, 8, 9, {b("\xff\x00\x80"), b("\x80\x80\x80"), b("\x80\x80\x80")}),
            QImage::Format_RGB32, {c8(255, 255, 255), c8(0, 0, 0), c8(119, 119, 119)});
        Psd indexed = psd(3, 8, 2, {b("\x00\x01\x02")});
        for (int i = 0; i < 768; ++i)
            indexed.modeData += char(i < 256 ? i : i < 512 ? 255 - i % 256 : 7);
        indexed.resources = "8BIM" + be<quint16>(1047) + QByteArray(2, 0) + be<quint32>(2) +
                            be<quint16>(1); // the transparency index
        row("indexed", indexed, QImage::Format_Indexed8,
            {c8(0, 255, 7), c8(1, 254, 7, 0), c8(2, 253, 7)});
    }
    void modes()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, format);
        QFETCH(Pixels, pixels);
        const QImage image = decode(file).value_or(QImage());
        QCOMPARE(int(image.format()), format);
        for (int x = 0; x < pixels.size(); ++x)
            QCOMPARE(quint64(image.pixelColor(x, 0).rgba64()), quint64(pixels[x]));
        if (format == QImage::Format_RGBX32FPx4)
            QCOMPARE(image.colorSpace().transferFunction(), QColorSpace::TransferFunction::Linear);
    }

    void rejected_data()
    {
        QTest::addColumn<QByteArray>("file");
        const auto row = [](const char *name, int width, int depth, int mode, int version = 1) {
            Psd p = psd(width, depth, mode, std::vector(mode == 4 ? 4 : 1, QByteArray(16, 'x')));
            p.version = version;
            QTest::newRow(name) << p.bytes();
        };
        row("PSD too wide", 30001, 8, 1);
        row("PSB too wide", 300001, 8, 1, 2);
        row("version 3", 4, 8, 1, 3);
        row("depth 12", 4, 12, 1);
        row("mode 5", 4, 8, 5);
        row("32-bit CMYK", 4, 32, 4);
        row("8-bit bitmap", 4, 8, 0);
        row("indexed, no palette", 4, 8, 2);
        Psd zip = psd(1, 8, 1, {"1"});
        zip.compression = 2;
        QTest::newRow("ZIP") << zip.bytes();
        const QByteArray ok = psd(2, 8, 1, {"12"}).bytes();
        QTest::newRow("bad signature") << "8BPX" + ok.mid(4);
        QTest::newRow("a byte short") << ok.chopped(1);
        for (const auto &[name, at] :
             {std::pair("colour mode data past the end", 26),
              std::pair("resources past the end", 30), std::pair("layer section past the end", 34)})
            QTest::newRow(name) << ok.left(at) + be<quint32>(1000) + ok.mid(at + 4);
    }
    void rejected()
    {
        QFETCH(QByteArray, file);
        QVERIFY(!decode(file));
        QVERIFY(!decodePiped(file));
    }

    void limits_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint64>("maxPixels");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<bool>("decodes");
        const QByteArray gray = psd(100, 8, 1, {QByteArray(10000, 'x')}).bytes();
        QTest::newRow("at the limits") << gray << 10000LL << 10000LL << true;
        QTest::newRow("a pixel over") << gray << 9999LL << 10000LL << false;
        QTest::newRow("a byte over") << gray << 10000LL << 9999LL << false;
        Psd huge = psd(300000, 8, 1, {QByteArray(100, 'x')});
        huge.height = 300000;
        huge.version = 2;
        const qint64 none = std::numeric_limits<qint64>::max();
        QTest::newRow("300000x300000")
            << huge.bytes() << PsdLimits{}.maxPixels << PsdLimits{}.maxBytes << false;
        // Unbounded, the file's own size must still refuse it before allocating.
        QTest::newRow("300000x300000 raw, unbounded") << huge.bytes() << none << none << false;
        huge.compression = 1;
        QTest::newRow("300000x300000 RLE, unbounded") << huge.bytes() << none << none << false;
    }
    void limits()
    {
        QFETCH(QByteArray, file);
        QFETCH(qint64, maxPixels);
        QFETCH(qint64, maxBytes);
        QFETCH(bool, decodes);
        QVERIFY(header(file)); // PSB sides may exceed the PSD bound of 30000
        QCOMPARE(bool(decode(file, {maxPixels, maxBytes})), decodes);
    }

    void rleRows_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("decoded"); // empty: refused
        QTest::newRow("literal") << QByteArray("\x03wxyz") << 5 << QByteArray("wxyz");
        QTest::newRow("repeat") << QByteArray("\xfdz") << 2 << QByteArray("zzzz");
        QTest::newRow("spare byte") << QByteArray("\x03wxyz\x00", 6) << 6 << QByteArray("wxyz");
        QTest::newRow("repeat past the row") << QByteArray("\xfbz") << 2 << QByteArray();
        QTest::newRow("literal past its count") << QByteArray("\x03wxyz") << 3 << QByteArray();
        QTest::newRow("row too short") << QByteArray("\x01wx") << 3 << QByteArray();
        QTest::newRow("count past the file") << QByteArray("\x03wxyz") << 200 << QByteArray();
    }
    void rleRows()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, count);
        QFETCH(QByteArray, decoded);
        Psd p = psd(4, 8, 1, {});
        p.channels = 1;
        const QByteArray file = p.bytes().chopped(2) + be<quint16>(1) + be<quint16>(count) + stored;
        const auto image = decode(file);
        QCOMPARE(image ? QByteArray(reinterpret_cast<const char *>(image->constBits()), 4)
                       : QByteArray(),
                 decoded);
    }

    // Hostile input: every cut is refused; every one-byte damage decodes or is refused.
    void damagedFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        Psd rgba = rgbPsd(sampleImage(20, 3), 4);
        rgba.compression = 1;
        rgba.layers = layerCount(-1);
        rgba.resources =
            "8BIM" + be<quint16>(1000) + QByteArray(2, 0) + be<quint32>(3) + QByteArray("abc", 4);
        QTest::newRow("RGBA RLE") << rgba.bytes();
        Psd deep = psd(3, 16, 4, std::vector(4, be16s({1, 2, 0x1234, 0x1234, 0x1234, 5})));
        deep.version = 2;
        deep.compression = 1;
        QTest::newRow("CMYK 16-bit PSB") << deep.bytes();
    }
    void damagedFiles()
    {
        QFETCH(QByteArray, file);
        QVERIFY(decode(file));
        for (qsizetype n = 0; n < file.size(); n += 5) {
            QVERIFY2(!decode(file.left(n)), qPrintable(QString::number(n)));
            QVERIFY(!decodePiped(file.left(n)));
        }
        for (qsizetype i = 0; i < file.size(); ++i)
            for (const char v : {char(0), char(0xff), char(file[i] ^ 0x80)}) {
                QByteArray damaged = file;
                damaged[i] = v;
                if (const auto image = decode(damaged))
                    QCOMPARE(image->size(), QSize(header(damaged)->width, header(damaged)->height));
            }
    }

    void cancellation()
    {
        const QByteArray file = rgbPsd(sampleImage(10, 200), 3).bytes();
        int calls = 0;
        QVERIFY(decode(file, {}, [&] { return ++calls < 0; }));
        QVERIFY(calls >= 3); // at least once per channel
        QVERIFY(!decode(file, {}, [&, last = calls] { return --calls == last / 2; }));
    }
};

QTEST_GUILESS_MAIN(TestPsd)
#include "tst_psd.moc"
