#include "imageio/Rotation.h"

#include <QColorSpace>
#include <QtTest>

using namespace orva;

namespace {

// A w x h image whose every pixel differs: pixel (x, y) holds the number y * w + x + 1 in its
// first bytes, so any misplaced pixel shows.
QImage numbered(int w, int h, QImage::Format format)
{
    QImage img(w, h, format);
    const int bytes = img.depth() / 8;
    img.fill(0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const quint32 n = quint32(y * w + x + 1);
            std::memcpy(img.scanLine(y) + x * bytes, &n, std::min<size_t>(size_t(bytes), sizeof n));
        }
    return img;
}

// The number stored at (x, y), as numbered() wrote it.
quint32 at(const QImage &img, int x, int y)
{
    quint32 n = 0;
    const int bytes = img.depth() / 8;
    std::memcpy(&n, img.constScanLine(y) + x * bytes, std::min<size_t>(size_t(bytes), sizeof n));
    return n;
}

} // namespace

class TestRotation : public QObject {
    Q_OBJECT

private slots:
    void orientationTable_data()
    {
        QTest::addColumn<uint>("before");
        QTest::addColumn<QList<uint>>("after"); // after 1, 2, 3 and 4 clockwise turns
        QTest::newRow("1") << 1u << QList<uint>{6, 3, 8, 1};
        QTest::newRow("2") << 2u << QList<uint>{5, 4, 7, 2};
        QTest::newRow("3") << 3u << QList<uint>{8, 1, 6, 3};
        QTest::newRow("4") << 4u << QList<uint>{7, 2, 5, 4};
        QTest::newRow("5") << 5u << QList<uint>{4, 7, 2, 5};
        QTest::newRow("6") << 6u << QList<uint>{3, 8, 1, 6};
        QTest::newRow("7") << 7u << QList<uint>{2, 5, 4, 7};
        QTest::newRow("8") << 8u << QList<uint>{1, 6, 3, 8};
        QTest::newRow("0 unchanged") << 0u << QList<uint>{0, 0, 0, 0};
        QTest::newRow("9 unchanged") << 9u << QList<uint>{9, 9, 9, 9};
    }
    void orientationTable()
    {
        QFETCH(uint, before);
        QFETCH(QList<uint>, after);
        for (int turns = 1; turns <= 4; ++turns)
            QCOMPARE(rotatedOrientation(before, turns), after[turns - 1]);
        QCOMPARE(rotatedOrientation(before, 0), before);
        // Negative turns count counter-clockwise: -1 is three clockwise turns.
        QCOMPARE(rotatedOrientation(before, -1), after[2]);
        QCOMPARE(rotatedOrientation(before, -3), after[0]);
    }

    void everyPixelLandsWhereTheTurnPutsIt_data()
    {
        QTest::addColumn<QImage::Format>("format");
        QTest::newRow("gray 8") << QImage::Format_Grayscale8;
        QTest::newRow("gray 16") << QImage::Format_Grayscale16;
        QTest::newRow("rgb 3 bytes") << QImage::Format_RGB888; // no vector-friendly layout
        QTest::newRow("argb 32") << QImage::Format_ARGB32;
        QTest::newRow("packed 30-bit") << QImage::Format_BGR30;
        QTest::newRow("rgba 64") << QImage::Format_RGBA64;
        QTest::newRow("float 128") << QImage::Format_RGBA32FPx4;
    }
    void everyPixelLandsWhereTheTurnPutsIt()
    {
        QFETCH(QImage::Format, format);
        const int w = 70, h = 67; // crosses the tile edges, not square
        const QImage src = numbered(w, h, format);
        for (int turns : {1, 2, 3, -1}) {
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
                        QFAIL(qPrintable(QStringLiteral("turn %1: pixel %2,%3 misplaced")
                                             .arg(turns)
                                             .arg(x)
                                             .arg(y)));
                }
        }
    }

    void decodedImageTurnsToAStillOfSwappedSize()
    {
        QImage a(40, 20, QImage::Format_RGB32);
        a.fill(Qt::red);
        auto anim = std::make_shared<DisplayImage>();
        anim->pointSize = QSizeF(4000, 2000); // a preview stands for the full size
        anim->frames = {{a, 100}, {a.mirrored(), 100}};
        const auto still = rotateDecodedImage(DecodedImage{anim, std::nullopt, anim, 0.01}, 3);
        QVERIFY(still && still->bitmap);
        QVERIFY(!still->image->isAnimated());
        QCOMPARE(still->image->pointSize, QSizeF(2000, 4000));
        QCOMPARE(still->preview->pointSize, QSizeF(2000, 4000));
        QCOMPARE(still->bitmap->size(), QSize(20, 40));
        QCOMPARE(still->resolution, 0.01);
    }
};

QTEST_MAIN(TestRotation)
#include "tst_rotation.moc"
