#include "core/state/AppState.h"
#include "imageio/ImageDecoding.h"
#include "support/ImageFixtures.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QtTest>

using namespace orva;
using namespace orva::test;

// A file that decodes slowly shows the small image stored in it first, and its own preview
// replaces it; the stored image never comes back over the real one.
class TestQuickPreview : public QObject {
    Q_OBJECT

private slots:
    void quickPreviewOnlyUntilThePreviewArrives()
    {
        TestServices t;
        t.images.quickPreviews = {QStringLiteral("a.heic"), QStringLiteral("b.heic")};
        TestFolder f({QStringLiteral("a.heic"), QStringLiteral("b.heic")});
        AppState s(t.services);
        t.images.setGated(true);
        s.open(f.url(QStringLiteral("a.heic")));
        QTRY_COMPARE(sourceFileOf(s.currentImage()), QStringLiteral("a.heic quick"));
        QVERIFY(!s.isCurrentFileLoaded());
        t.images.release(QStringLiteral("a.heic"));
        QTRY_COMPARE(sourceFileOf(s.currentImage()), QStringLiteral("a.heic"));
        QTRY_COMPARE(s.imageFiles().size(), 2);
        // Already decoded ahead: no quick preview in between.
        t.images.release(QStringLiteral("b.heic"));
        t.tasks.waitForDone();
        QCoreApplication::processEvents();
        QStringList shown;
        connect(&s, &AppState::currentImageChanged, &s,
                [&] { shown << sourceFileOf(s.currentImage()); });
        s.navigate(+1);
        QTRY_COMPARE(sourceFileOf(s.currentImage()), QStringLiteral("b.heic"));
        t.tasks.waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(shown, QStringList{QStringLiteral("b.heic")});
    }

    void heifThumbnailStandsForTheWholeImage()
    {
        QTemporaryDir dir;
        QImage pixels(640, 480, QImage::Format_RGB32);
        pixels.fill(Qt::darkGreen);
        const QString heic = dir.filePath(QStringLiteral("t.heic"));
        const QString bare = dir.filePath(QStringLiteral("n.heic"));
        const QString jpeg = dir.filePath(QStringLiteral("j.jpg"));
        QVERIFY(writeHeif(heic, pixels, 8, false, 160) && writeHeif(bare, pixels, 8));
        QVERIFY(pixels.save(jpeg));
        const auto quick = decodeEmbeddedPreview(QUrl::fromLocalFile(heic));
        QVERIFY(quick && quick->bitmap);
        QCOMPARE(quick->image->pointSize, QSizeF(640, 480));
        QCOMPARE(quick->bitmap->size(), QSize(160, 120));
        QCOMPARE(quick->resolution, 0.25);
        QVERIFY(!decodeEmbeddedPreview(QUrl::fromLocalFile(bare)));
        QVERIFY(!decodeEmbeddedPreview(QUrl::fromLocalFile(jpeg)));
    }
};

QTEST_MAIN(TestQuickPreview)
#include "tst_quickpreview.moc"
