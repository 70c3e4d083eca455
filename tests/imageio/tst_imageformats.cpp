#include "imageio/ImageFormats.h"
#include "support/ImageFixtures.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace orva;

class TestImageFormats : public QObject {
    Q_OBJECT

private slots:
    void isSupportedImageFile_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("expected");
        QTest::newRow("upper-case extension")
            << QUrl::fromLocalFile(QStringLiteral("/nowhere/photo.JPG")) << true;
        QTest::newRow("heic") << QUrl::fromLocalFile(QStringLiteral("/nowhere/IMG_1.HEIC")) << true;
        QTest::newRow("raw") << QUrl::fromLocalFile(QStringLiteral("/nowhere/a.nef")) << true;
        QTest::newRow("text") << QUrl::fromLocalFile(QStringLiteral("/nowhere/notes.txt")) << false;
        QTest::newRow("no extension")
            << QUrl::fromLocalFile(QStringLiteral("/nowhere/jpg")) << false;
        QTest::newRow("directory marker")
            << QUrl::fromLocalFile(QStringLiteral("/nowhere/album.png/")) << false;
        QTest::newRow("not a file url")
            << QUrl(QStringLiteral("https://example.org/a.jpg")) << false;
    }
    void isSupportedImageFile()
    {
        QFETCH(QUrl, url);
        QFETCH(bool, expected);
        QCOMPARE(orva::isSupportedImageFile(url), expected);
    }

    void directoryNamedLikeAnImageIsNotSupported()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("album.png")));
        QVERIFY(!orva::isSupportedImageFile(
            QUrl::fromLocalFile(dir.filePath(QStringLiteral("album.png")))));
    }

    // Raw files look like TIFF inside; HEIF content wins over a misleading name.
    void decoderChoice()
    {
        QTemporaryDir dir;
        const QImage img = test::quadrants(16, 16);
        QVERIFY(img.save(dir.filePath(QStringLiteral("looks.dng")), "TIFF"));
        QVERIFY(img.save(dir.filePath(QStringLiteral("really-png.jpg")), "PNG"));
        QVERIFY(img.save(dir.filePath(QStringLiteral("really-jpeg.heic")), "JPEG"));
        QVERIFY(test::writeHeif(dir.filePath(QStringLiteral("named.jpg")), img, 8));
        QCOMPARE(decoderKindFor(dir.filePath(QStringLiteral("looks.dng"))), DecoderKind::raw);
        QCOMPARE(decoderKindFor(dir.filePath(QStringLiteral("really-png.jpg"))), DecoderKind::qt);
        QCOMPARE(decoderKindFor(dir.filePath(QStringLiteral("really-jpeg.heic"))), DecoderKind::qt);
        QCOMPARE(decoderKindFor(dir.filePath(QStringLiteral("named.jpg"))), DecoderKind::heif);
    }
};

QTEST_GUILESS_MAIN(TestImageFormats)
#include "tst_imageformats.moc"
