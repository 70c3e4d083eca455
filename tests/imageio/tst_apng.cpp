#include "imageio/ApngReader.h"
#include "support/ImageFixtures.h"

#include <QtTest>

using namespace orva;

namespace {

using Chunks = orva::test::PngChunks;
using orva::test::be32;
using orva::test::pngFile;

struct Frame {
    QRgb colour;
    quint16 num = 1, den = 10; // the delay in seconds
    QSize size = {4, 4};
    QPoint at = {};
    quint8 dispose = 0, blend = 0;
};

QImage solid(QRgb c, QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(QColor::fromRgba(c));
    return image;
}

// Frames of one colour each; frame 0 is the default image unless a hidden one is given.
Chunks apng(const std::vector<Frame> &frames, quint32 plays = 0,
            const std::optional<Frame> &hidden = {}, QSize canvas = {4, 4})
{
    QList<orva::test::PngFrame> f;
    for (const Frame &x : frames)
        f.push_back({solid(x.colour, x.size), x.num, x.den, x.at, x.dispose, x.blend});
    return orva::test::apngChunks(
        f, plays, hidden ? std::optional(solid(hidden->colour, hidden->size)) : std::nullopt,
        canvas);
}

const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255);

// Chunks: 0 IHDR, 1 acTL, 2 fcTL, 3 IDAT, 4 fcTL, 5 fdAT, 6 fcTL, 7 fdAT, 8 IEND.
Chunks three(quint32 plays = 0)
{
    return apng({{red, 10, 100}, {green, 1, 3}, {blue, 0, 0}}, plays);
}

QRgb pixel(const ApngFrame &f, int x, int y)
{
    return reinterpret_cast<const QRgb *>(f.image.constScanLine(y))[x]; // premultiplied
}

struct Composite {
    quint8 dispose0, dispose1, blend1;
    QRgb inside, outside, underneath; // (1,1) in frame 1; (3,3); (1,1) in frame 2
};

// Whatever a damaged file yields must still be a usable animation.
bool usable(const std::optional<ApngAnimation> &a)
{
    return !a || (!a->frames.empty() &&
                  std::all_of(a->frames.begin(), a->frames.end(), [&](const ApngFrame &f) {
                      return f.image.size() == a->canvas && f.delayMs > 0 &&
                             f.image.format() == QImage::Format_ARGB32_Premultiplied;
                  }));
}

} // namespace

class TestApng : public QObject {
    Q_OBJECT

private slots:
    void framesDelaysAndLoops()
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
    }

    void detectionAndDefaultImage()
    {
        QByteArray animated = pngFile(three());
        QVERIFY(isAnimatedPng(animated.first(60))); // the head up to acTL is enough
        const Chunks c = three();
        const QByteArray plain = pngFile({c[0], c[3], c[8]});
        QVERIFY(!isAnimatedPng(plain) && !readApng(plain)); // Qt decodes plain PNGs itself
        const QByteArray hidden = pngFile(apng({{red}, {blue}}, 0, Frame{green}));
        const auto a = readApng(hidden);
        QVERIFY(isAnimatedPng(hidden) && a && a->frames.size() == 2);
        QCOMPARE(pixel(a->frames[0], 0, 0), red);
        QCOMPARE(pixel(a->frames[1], 0, 0), blue);
    }

    // Frame 0 red; frame 1 half-transparent blue 2x2 at (1,1); frame 2 blue 1x1 at (0,0), over.
    void compositing_data()
    {
        QTest::addColumn<Composite>("c");
        const QRgb none = 0, over = qRgba(127, 0, 128, 255), alone = qRgba(0, 0, 128, 128);
        QTest::newRow("source") << Composite{0, 0, 0, alone, red, alone};
        QTest::newRow("over") << Composite{0, 0, 1, over, red, over};
        QTest::newRow("none, background") << Composite{0, 1, 1, over, red, none};
        QTest::newRow("none, previous") << Composite{0, 2, 1, over, red, red};
        QTest::newRow("background, previous") << Composite{1, 2, 1, alone, none, none};
        QTest::newRow("first previous clears") << Composite{2, 0, 1, alone, none, alone};
    }
    void compositing()
    {
        QFETCH(Composite, c);
        const auto a = readApng(
            pngFile(apng({{red, 1, 10, {4, 4}, {}, c.dispose0},
                          {qRgba(0, 0, 255, 128), 1, 10, {2, 2}, {1, 1}, c.dispose1, c.blend1},
                          {blue, 1, 10, {1, 1}, {0, 0}, 0, 1}})));
        QVERIFY(a && usable(a));
        QCOMPARE(pixel(a->frames[0], 1, 1), red);
        QCOMPARE(pixel(a->frames[1], 1, 1), c.inside);
        QCOMPARE(pixel(a->frames[1], 3, 3), c.outside);
        QCOMPARE(pixel(a->frames[2], 3, 3), c.outside);
        QCOMPARE(pixel(a->frames[2], 1, 1), c.underneath);
        QCOMPARE(pixel(a->frames[2], 0, 0), blue);
    }

    void malformed_data()
    {
        QTest::addColumn<QByteArray>("file");
        const auto patched = [](int chunk, int at, const QByteArray &bytes) {
            Chunks c = three();
            c[chunk].data.replace(at, bytes.size(), bytes);
            return pngFile(c);
        };
        QTest::newRow("frame one past the right edge") << patched(4, 12, be32(1));
        QTest::newRow("offset wraps around") << patched(4, 16, be32(~0u));
        QTest::newRow("zero width") << patched(6, 4, be32(0));
        QTest::newRow("first frame smaller than canvas") << patched(2, 4, be32(2));
        QTest::newRow("unknown dispose op") << patched(4, 24, "\x03");
        QTest::newRow("sequence out of order") << patched(4, 0, be32(9));
        QTest::newRow("more frames announced") << patched(1, 0, be32(4));
        QTest::newRow("fewer frames announced") << patched(1, 0, be32(2));
        QTest::newRow("zero frames announced") << patched(1, 0, be32(0));
        // Structural edits, renumbered so that more than the sequence check must catch them.
        const auto edited = [](const std::function<void(Chunks &)> &edit) {
            Chunks c = three();
            edit(c);
            quint32 seq = 0;
            for (auto &chunk : c)
                if (chunk.type == "fcTL" || chunk.type == "fdAT")
                    chunk.data.replace(0, 4, be32(seq++));
            return pngFile(c);
        };
        QTest::newRow("frame without data") << edited([](Chunks &c) { c.erase(c.begin() + 5); });
        QTest::newRow("fdAT before IDAT") << edited([](Chunks &c) { std::swap(c[3], c[5]); });
        QTest::newRow("fdAT continuing the default image")
            << edited([](Chunks &c) { c.insert(c.begin() + 4, orva::test::PngChunk(c[5])); });
        QTest::newRow("missing IEND") << edited([](Chunks &c) { c.pop_back(); });
        QTest::newRow("unknown critical chunk") << edited([](Chunks &c) {
            c.insert(c.begin() + 1, {QByteArray("ABCD"), QByteArray("x")});
        });
    }
    void malformed()
    {
        QFETCH(QByteArray, file);
        QVERIFY(!readApng(file));
    }

    void limits()
    {
        // A 1x1 frame on a 100000 x 100000 canvas: 40 GB per frame if it were allocated.
        const QByteArray huge = pngFile(apng({{red, 1, 10, {1, 1}}, {blue, 1, 10, {1, 1}}}, 0,
                                             Frame{red, 1, 10, {1, 1}}, {100000, 100000}));
        QVERIFY(!readApng(huge));
        QVERIFY(!readApng(huge, {100'000'000, LLONG_MAX, 10})); // the canvas bound alone
        QVERIFY(!readApng(huge, {LLONG_MAX, 1LL << 30, 10}));   // the total bound alone
        const QByteArray file = pngFile(three());
        QVERIFY(readApng(file, {16, 3 * 16 * 4, 3}));
        QVERIFY(!readApng(file, {15, 3 * 16 * 4, 3}));
        QVERIFY(!readApng(file, {16, 3 * 16 * 4 - 1, 3}));
        QVERIFY(!readApng(file, {16, 3 * 16 * 4, 2}));
    }
};

QTEST_GUILESS_MAIN(TestApng)
#include "tst_apng.moc"
