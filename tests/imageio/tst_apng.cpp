#include "imageio/ApngReader.h"

#include <QBuffer>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

using namespace orva;

namespace {

struct Chunk {
    QByteArray type;
    QByteArray data;
};
using Chunks = std::vector<Chunk>;

QByteArray be32(quint32 v)
{
    QByteArray bytes(4, 0);
    qToBigEndian(v, bytes.data());
    return bytes;
}
QByteArray be16(quint16 v) { return be32(v).sliced(2); }

QByteArray serialize(const Chunks &chunks)
{
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    for (const Chunk &c : chunks) {
        const QByteArray body = c.type + c.data;
        out += be32(quint32(c.data.size())) + body +
               be32(quint32(crc32(0, reinterpret_cast<const Bytef *>(body.data()), body.size())));
    }
    return out;
}

// Qt writes 8-bit RGBA for ARGB32, so every frame's IDAT matches one canvas IHDR.
QByteArray idatOf(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
    QByteArray idat;
    for (qsizetype pos = 8; pos + 12 <= png.size();) {
        const auto length = qsizetype(qFromBigEndian<quint32>(png.constData() + pos));
        if (png.mid(pos + 4, 4) == "IDAT")
            idat += png.mid(pos + 8, length);
        pos += 12 + length;
    }
    return idat;
}

QImage solid(QSize size, QRgb colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

struct Frame {
    QImage image;
    QPoint at = {};
    quint8 dispose = 0;
    quint8 blend = 0;
    quint16 num = 1, den = 10;
};

// fcTL precedes IDAT, so frame 0 is the default image, unless `hiddenDefault` is given.
Chunks apng(QSize canvas, const std::vector<Frame> &frames, quint32 plays = 0,
            const QImage &hiddenDefault = {})
{
    Chunks c{
        {"IHDR", be32(canvas.width()) + be32(canvas.height()) + QByteArray("\x08\x06\0\0\0", 5)},
        {"acTL", be32(quint32(frames.size())) + be32(plays)}};
    if (!hiddenDefault.isNull())
        c.push_back({"IDAT", idatOf(hiddenDefault)});
    quint32 seq = 0;
    for (const Frame &f : frames) {
        c.push_back({"fcTL", be32(seq++) + be32(f.image.width()) + be32(f.image.height()) +
                                 be32(f.at.x()) + be32(f.at.y()) + be16(f.num) + be16(f.den) +
                                 QByteArray(1, char(f.dispose)) + QByteArray(1, char(f.blend))});
        if (seq == 1 && hiddenDefault.isNull())
            c.push_back({"IDAT", idatOf(f.image)});
        else
            c.push_back({"fdAT", be32(seq++) + idatOf(f.image)});
    }
    c.push_back({"IEND", {}});
    return c;
}

// Renumbers fcTL and fdAT in file order, so a reordering is caught by more than sequence checks.
void resequence(Chunks &chunks)
{
    quint32 seq = 0;
    for (Chunk &c : chunks)
        if (c.type == "fcTL" || c.type == "fdAT")
            c.data.replace(0, 4, be32(seq++));
}

QRgb pixel(const QImage &image, int x, int y)
{
    return reinterpret_cast<const QRgb *>(image.constScanLine(y))[x]; // premultiplied as stored
}

// Whatever a damaged file yields must still be a usable animation.
bool usable(const std::optional<ApngAnimation> &a)
{
    if (!a)
        return true;
    return !a->frames.empty() &&
           std::all_of(a->frames.begin(), a->frames.end(), [&](const ApngFrame &f) {
               return f.image.size() == a->canvas && f.delayMs > 0 &&
                      f.image.format() == QImage::Format_ARGB32_Premultiplied;
           });
}

const QSize canvas4(4, 4);
const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255);

Chunks threeFrames(quint32 plays = 0)
{
    return apng(canvas4,
                {{solid(canvas4, red), {}, 0, 0, 10, 100},
                 {solid(canvas4, green), {}, 0, 0, 1, 3},
                 {solid(canvas4, blue), {}, 0, 0, 0, 0}},
                plays);
}

} // namespace

class TestApng : public QObject {
    Q_OBJECT

private slots:
    void framesDelaysAndLoops_data()
    {
        QTest::addColumn<quint32>("plays");
        QTest::addColumn<int>("loopCount");
        QTest::newRow("forever") << 0u << -1;
        QTest::newRow("once") << 1u << 0;
        QTest::newRow("three plays") << 3u << 2;
    }
    void framesDelaysAndLoops()
    {
        QFETCH(quint32, plays);
        QFETCH(int, loopCount);
        const QByteArray file = serialize(threeFrames(plays));
        const auto a = readApng(file);
        QVERIFY(a && usable(a));
        QCOMPARE(a->canvas, canvas4);
        QCOMPARE(a->loopCount, loopCount);
        QCOMPARE(a->frames.size(), size_t(3));
        const QRgb colours[] = {red, green, blue};
        const int delays[] = {100, 333, 100}; // 10/100 s, 1/3 s, and 0 shown as 100 ms
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(pixel(a->frames[i].image, 3, 3), colours[i]);
            QCOMPARE(a->frames[i].delayMs, delays[i]);
        }
    }

    void detection()
    {
        const QByteArray animated = serialize(threeFrames());
        QVERIFY(isAnimatedPng(animated));
        QVERIFY(isAnimatedPng(animated.first(60))); // the head up to acTL is enough
        QByteArray copy = animated;
        QBuffer device(&copy);
        device.open(QIODevice::ReadOnly);
        device.seek(0);
        QVERIFY(isAnimatedPng(device));
        QCOMPARE(device.pos(), 0);

        const Chunks plainChunks = threeFrames();
        const QByteArray plain = serialize({plainChunks[0], plainChunks[3], plainChunks[8]});
        QVERIFY(!isAnimatedPng(plain));
        QVERIFY(!readApng(plain)); // Qt decodes plain PNGs itself

        const QByteArray single = serialize(apng(canvas4, {{solid(canvas4, red)}}));
        QVERIFY(!isAnimatedPng(single));
        const auto one = readApng(single);
        QVERIFY(one && one->frames.size() == 1);
    }

    void hiddenDefaultImage()
    {
        const QByteArray file = serialize(apng(
            canvas4, {{solid(canvas4, red)}, {solid(canvas4, blue)}}, 0, solid(canvas4, green)));
        QVERIFY(isAnimatedPng(file));
        const auto a = readApng(file);
        QVERIFY(a && a->frames.size() == 2);
        QCOMPARE(pixel(a->frames[0].image, 0, 0), red);
        QCOMPARE(pixel(a->frames[1].image, 0, 0), blue);
    }

    void blend_data()
    {
        QTest::addColumn<quint8>("blend");
        QTest::addColumn<QRgb>("inside");
        QTest::newRow("source") << quint8(0) << qRgba(0, 0, 128, 128); // premultiplied
        QTest::newRow("over") << quint8(1) << qRgba(127, 0, 128, 255);
    }
    void blend()
    {
        QFETCH(quint8, blend);
        QFETCH(QRgb, inside);
        const auto a = readApng(
            serialize(apng(canvas4, {{solid(canvas4, red)},
                                     {solid({2, 2}, qRgba(0, 0, 255, 128)), {1, 1}, 0, blend}})));
        QVERIFY(a && usable(a));
        QCOMPARE(pixel(a->frames[1].image, 2, 2), inside);
        QCOMPARE(pixel(a->frames[1].image, 0, 0), red);
        QCOMPARE(pixel(a->frames[0].image, 2, 2), red); // earlier frames are not touched
    }

    void dispose_data()
    {
        QTest::addColumn<quint8>("dispose0");
        QTest::addColumn<quint8>("dispose1");
        QTest::addColumn<QRgb>("outside");    // (3,3): left alone by frames 1 and 2
        QTest::addColumn<QRgb>("underneath"); // (1,1) in frame 2, where frame 1 was
        const QRgb none = 0;
        QTest::newRow("none, none") << quint8(0) << quint8(0) << red << green;
        QTest::newRow("none, background") << quint8(0) << quint8(1) << red << none;
        QTest::newRow("none, previous") << quint8(0) << quint8(2) << red << red;
        QTest::newRow("background, previous") << quint8(1) << quint8(2) << none << none;
        QTest::newRow("first previous clears") << quint8(2) << quint8(0) << none << green;
    }
    void dispose()
    {
        QFETCH(quint8, dispose0);
        QFETCH(quint8, dispose1);
        QFETCH(QRgb, outside);
        QFETCH(QRgb, underneath);
        const auto a =
            readApng(serialize(apng(canvas4, {{solid(canvas4, red), {}, dispose0},
                                              {solid({2, 2}, green), {1, 1}, dispose1, 1},
                                              {solid({1, 1}, blue), {0, 0}, 0, 1}})));
        QVERIFY(a && usable(a));
        QCOMPARE(pixel(a->frames[1].image, 1, 1), green);
        QCOMPARE(pixel(a->frames[1].image, 3, 3), outside);
        QCOMPARE(pixel(a->frames[2].image, 3, 3), outside);
        QCOMPARE(pixel(a->frames[2].image, 1, 1), underneath);
        QCOMPARE(pixel(a->frames[2].image, 0, 0), blue);
    }

    void malformed()
    {
        // Chunks: 0 IHDR, 1 acTL, 2 fcTL, 3 IDAT, 4 fcTL, 5 fdAT, 6 fcTL, 7 fdAT, 8 IEND.
        const struct {
            const char *name;
            std::function<void(Chunks &)> damage;
        } cases[] = {
            {"frame past the right edge", [](Chunks &c) { c[4].data.replace(12, 4, be32(3)); }},
            {"offset wraps around", [](Chunks &c) { c[4].data.replace(16, 4, be32(~0u)); }},
            {"zero width", [](Chunks &c) { c[6].data.replace(4, 4, be32(0)); }},
            {"first frame smaller than canvas",
             [](Chunks &c) { c[2].data.replace(4, 4, be32(2)); }},
            {"unknown dispose op", [](Chunks &c) { c[4].data[24] = 3; }},
            {"sequence out of order", [](Chunks &c) { c[4].data.replace(0, 4, be32(9)); }},
            {"more frames announced", [](Chunks &c) { c[1].data.replace(0, 4, be32(4)); }},
            {"fewer frames announced", [](Chunks &c) { c[1].data.replace(0, 4, be32(2)); }},
            {"zero frames announced", [](Chunks &c) { c[1].data.replace(0, 4, be32(0)); }},
            {"frame without data",
             [](Chunks &c) {
                 c.erase(c.begin() + 5);
                 resequence(c);
             }},
            {"last frame without data", [](Chunks &c) { c.erase(c.begin() + 7); }},
            {"fdAT before IDAT",
             [](Chunks &c) {
                 std::swap(c[3], c[5]);
                 resequence(c);
             }},
            {"fdAT continuing the default image",
             [](Chunks &c) {
                 const Chunk extra = c[5];
                 c.insert(c.begin() + 4, extra);
                 resequence(c);
             }},
            {"missing IEND", [](Chunks &c) { c.pop_back(); }},
            {"unknown critical chunk",
             [](Chunks &c) {
                 c.insert(c.begin() + 1, {"ABCD", "x"});
             }},
        };
        for (const auto &test : cases) {
            Chunks chunks = threeFrames();
            test.damage(chunks);
            QVERIFY2(!readApng(serialize(chunks)), test.name);
        }
    }

    void limits()
    {
        // A 1x1 frame on a 100000 x 100000 canvas: 40 GB per frame if it were allocated.
        const QByteArray huge =
            serialize(apng({100000, 100000}, {{solid({1, 1}, red)}, {solid({1, 1}, blue)}}, 0,
                           solid({1, 1}, red)));
        QVERIFY(!readApng(huge));
        QVERIFY(!readApng(huge, {100'000'000, LLONG_MAX, 10})); // the canvas bound alone
        QVERIFY(!readApng(huge, {LLONG_MAX, 1LL << 30, 10}));   // the total bound alone

        const QByteArray file = serialize(threeFrames());
        const qint64 needed = 3 * 16 * 4;
        QVERIFY(readApng(file, {16, needed, 3}));
        QVERIFY(!readApng(file, {15, needed, 3}));
        QVERIFY(!readApng(file, {16, needed - 1, 3}));
        QVERIFY(!readApng(file, {16, needed, 2}));
    }

    void cancellation()
    {
        const QByteArray file = serialize(threeFrames());
        int calls = 0;
        QVERIFY(readApng(file, {}, [&] { return ++calls > 3; }));
        QCOMPARE(calls, 3); // once per frame
        calls = 0;
        QVERIFY(!readApng(file, {}, [&] { return ++calls > 1; }));
        QCOMPARE(calls, 2);
    }

    void damagedFilesNeverCrash()
    {
        const Chunks chunks = apng(canvas4, {{solid(canvas4, red), {}, 2},
                                             {solid({2, 2}, qRgba(0, 0, 255, 128)), {1, 1}, 2, 1}});
        const QByteArray file = serialize(chunks);
        for (qsizetype n = 0; n < file.size(); n += 7) {
            isAnimatedPng(file.first(n));
            QVERIFY2(!readApng(file.first(n)), qPrintable(QString::number(n)));
        }
        for (qsizetype i = 0; i < file.size(); ++i) {
            QByteArray damaged = file;
            damaged[i] = char(damaged[i] ^ 0x5a);
            isAnimatedPng(damaged);
            QVERIFY(usable(readApng(damaged)));
        }
        // Damage behind valid CRCs reaches the checks past the chunk framing.
        for (size_t c = 0; c < chunks.size(); ++c) {
            for (qsizetype i = 0; i < chunks[c].data.size(); ++i) {
                Chunks damaged = chunks;
                damaged[c].data[i] = char(damaged[c].data[i] ^ 0x81);
                QVERIFY(usable(readApng(serialize(damaged))));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestApng)
#include "tst_apng.moc"
