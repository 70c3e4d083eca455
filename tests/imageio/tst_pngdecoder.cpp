#include "imageio/ImageDecoding.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace orva;

// Large PNGs are reduced while they are decoded: the result must be what a filtered
// reduction of the whole image gives, with transparency premultiplied.
class TestPngDecoder : public QObject {
    Q_OBJECT

private slots:
    void reducesWhileDecoding_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QColor>("right");
        QTest::addColumn<int>("expectedFormat");
        QTest::newRow("rgb") << int(QImage::Format_RGB32) << QColor(Qt::blue)
                             << int(QImage::Format_RGB32);
        QTest::newRow("rgba") << int(QImage::Format_ARGB32) << QColor(0, 0, 255, 0)
                              << int(QImage::Format_ARGB32_Premultiplied);
        // Qt writes a transparency chunk with every palette.
        QTest::newRow("palette") << int(QImage::Format_Indexed8) << QColor(Qt::blue)
                                 << int(QImage::Format_ARGB32_Premultiplied);
        QTest::newRow("grey") << int(QImage::Format_Grayscale8) << QColor(Qt::black)
                              << int(QImage::Format_RGB32);
    }
    void reducesWhileDecoding()
    {
        QFETCH(int, format);
        QFETCH(QColor, right);
        QFETCH(int, expectedFormat);
        // Reduced by 3 in both directions.
        QImage image(300, 90, QImage::Format_ARGB32);
        image.fill(Qt::white);
        for (int y = 0; y < 90; ++y)
            for (int x = 150; x < 300; ++x)
                image.setPixelColor(x, y, right);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("r.png"));
        QVERIFY(image.convertToFormat(QImage::Format(format)).save(path));
        const auto decoded = decodeImage(QUrl::fromLocalFile(path), 100);
        QVERIFY(decoded && decoded->bitmap);
        const QImage &b = *decoded->bitmap;
        QCOMPARE(b.size(), QSize(100, 30));
        QCOMPARE(int(b.format()), expectedFormat);
        QCOMPARE(b.pixelColor(10, 15), QColor(Qt::white));
        QCOMPARE(b.pixelColor(90, 15).rgba(), right.rgba() & (right.alpha() ? ~0u : 0u));
        // Column 49 covers source columns 147..149: nothing of the right side bleeds in.
        QCOMPARE(b.pixelColor(49, 15), QColor(Qt::white));
        const QImage whole = QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(decodeImage(QUrl::fromLocalFile(path))
                     ->bitmap->convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 whole);
    }
};

QTEST_MAIN(TestPngDecoder)
#include "tst_pngdecoder.moc"
