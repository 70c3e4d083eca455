#include "core/state/AppState.h"
#include "support/TestServices.h"

#include <QSignalSpy>
#include <QtTest>

using namespace orva;
using orva::test::MemorySettingsStore;
using orva::test::VirtualScheduler;

namespace {

struct Fixture : orva::test::TestServices {
    MemorySettingsStore &store = settings;
};

QUrl file(const QString &name) { return QUrl::fromLocalFile(QStringLiteral("/photos/") + name); }

} // namespace

class TestAppState : public QObject {
    Q_OBJECT

private slots:
    void creationWithEmptySettings()
    {
        Fixture f;
        AppState s(f.services);
        QCOMPARE(s.currentURL(), std::nullopt);
        QCOMPARE(s.currentImage().has_value(), false);
        QCOMPARE(s.loadFailed(), false);
        QVERIFY(s.imageFiles().isEmpty());
        QCOMPARE(s.currentIndex(), 0);
        QCOMPARE(s.displayMode(), DisplayMode::fitToWindow);
        QCOMPARE(s.overlayMode(), OverlayMode::none);
        QCOMPARE(s.showThumbnailBar(), false);
        QCOMPARE(s.zoomAction(), std::nullopt);
        QCOMPARE(s.magnification(), 1.0);
        QCOMPARE(s.visibleRect(), QRectF(0, 0, 1, 1));
        QCOMPARE(s.scrollTarget(), std::nullopt);
        QCOMPARE(s.showStatusBar(), true);
        QVERIFY(s.hideStatusBarDeadline() < -1e300);
        QCOMPARE(s.errorMessage(), std::nullopt);
        QCOMPARE(s.loadGeneration(), 0);
        QCOMPARE(s.rotationSteps(), 0);
        QCOMPARE(s.navigationDirection(), 1);
        QCOMPARE(s.windowTitle(), QStringLiteral("Orva"));
        // Absent modes are not written back; the thumbnail-bar flag goes through its
        // persisting setter.
        QVERIFY(!f.store.values.contains(QStringLiteral("displayMode")));
        QVERIFY(!f.store.values.contains(QStringLiteral("overlayMode")));
        QCOMPARE(f.store.values.value(QStringLiteral("showThumbnailBar")).toBool(), false);
    }

    void creationReadsStoredModes()
    {
        Fixture f;
        f.store.values.insert(QStringLiteral("displayMode"), QStringLiteral("actualSize"));
        f.store.values.insert(QStringLiteral("overlayMode"), QStringLiteral("histogram"));
        f.store.values.insert(QStringLiteral("showThumbnailBar"), QStringLiteral("true"));
        AppState s(f.services);
        QCOMPARE(s.displayMode(), DisplayMode::actualSize);
        QCOMPARE(s.overlayMode(), OverlayMode::histogram);
        QCOMPARE(s.showThumbnailBar(), true);
    }

    void unreadableStoredModeKeepsDefaultAndStoredText()
    {
        Fixture f;
        f.store.values.insert(QStringLiteral("displayMode"), QStringLiteral("zoomToFill"));
        f.store.values.insert(QStringLiteral("overlayMode"), 2);
        AppState s(f.services);
        QCOMPARE(s.displayMode(), DisplayMode::fitToWindow);
        QCOMPARE(s.overlayMode(), OverlayMode::none);
        QCOMPARE(f.store.values.value(QStringLiteral("displayMode")).toString(),
                 QStringLiteral("zoomToFill"));
        QCOMPARE(f.store.values.value(QStringLiteral("overlayMode")).toInt(), 2);
    }

    void persistingSettersWriteEveryTimeButNotifyOnChange()
    {
        Fixture f;
        AppState s(f.services);
        QSignalSpy spy(&s, &AppState::displayModeChanged);
        const int before = f.store.writes;
        s.setDisplayMode(DisplayMode::fitToWindow); // equal
        QCOMPARE(spy.count(), 0);
        QCOMPARE(f.store.writes, before + 1);
        QCOMPARE(f.store.values.value(QStringLiteral("displayMode")).toString(),
                 QStringLiteral("fitToWindow"));
        s.setDisplayMode(DisplayMode::autoSizeWindow);
        QCOMPARE(spy.count(), 1);
        s.setOverlayMode(OverlayMode::metadata);
        s.setShowThumbnailBar(true);
        QCOMPARE(f.store.values.value(QStringLiteral("overlayMode")).toString(),
                 QStringLiteral("metadata"));
        QCOMPARE(f.store.values.value(QStringLiteral("showThumbnailBar")).toBool(), true);

        // A second window starts from what the first stored.
        AppState other(f.services);
        QCOMPARE(other.displayMode(), DisplayMode::autoSizeWindow);
        QCOMPARE(other.overlayMode(), OverlayMode::metadata);
        QCOMPARE(other.showThumbnailBar(), true);
    }

    void equalWritesDoNotNotify()
    {
        Fixture f;
        AppState s(f.services);
        QSignalSpy url(&s, &AppState::currentURLChanged);
        QSignalSpy rect(&s, &AppState::visibleRectChanged);
        QSignalSpy mag(&s, &AppState::magnificationChanged);
        QSignalSpy files(&s, &AppState::imageFilesChanged);
        QSignalSpy error(&s, &AppState::errorMessageChanged);
        QSignalSpy tags(&s, &AppState::currentTagsChanged);
        QSignalSpy meta(&s, &AppState::metadataChanged);

        s.setCurrentURL(file(QStringLiteral("a.jpg")));
        s.setCurrentURL(file(QStringLiteral("a.jpg")));
        QCOMPARE(url.count(), 1);

        // Same rectangle built another way.
        s.setVisibleRect(QRectF(QPointF(0, 0), QSizeF(1, 1)));
        QCOMPARE(rect.count(), 0);
        s.setVisibleRect(QRectF(0.25, 0.25, 0.5, 0.5));
        s.setVisibleRect(QRectF(QPointF(0.25, 0.25), QPointF(0.75, 0.75)));
        QCOMPARE(rect.count(), 1);

        s.setMagnification(1.0);
        QCOMPARE(mag.count(), 0);
        s.setMagnification(2.0);
        QCOMPARE(mag.count(), 1);

        const QList<QUrl> list{file(QStringLiteral("a.jpg")), file(QStringLiteral("b.jpg"))};
        s.setImageFiles(list);
        s.setImageFiles(QList<QUrl>(list));
        QCOMPARE(files.count(), 1);

        s.setErrorMessage(QStringLiteral("Disk full"));
        s.setErrorMessage(QStringLiteral("Disk full"));
        s.setErrorMessage(std::nullopt);
        QCOMPARE(error.count(), 2);

        s.setCurrentTags({QStringLiteral("Red")});
        s.setCurrentTags({QStringLiteral("Red")});
        QCOMPARE(tags.count(), 1);

        s.setMetadata({{QStringLiteral("Size"), QStringLiteral("2.4 MB")}});
        s.setMetadata({{QStringLiteral("Size"), QStringLiteral("2.4 MB")}});
        QCOMPARE(meta.count(), 1);
    }

    void decodedImagesCompareByIdentity()
    {
        Fixture f;
        AppState s(f.services);
        QSignalSpy spy(&s, &AppState::currentImageChanged);
        auto display = std::make_shared<DisplayImage>();
        display->pointSize = QSizeF(4, 4);
        QImage pixels(4, 4, QImage::Format_ARGB32);
        pixels.fill(Qt::red);
        display->frames.push_back({pixels, 0});
        DecodedImage a{display, pixels, display, 1.0};
        s.setCurrentImage(a);
        s.setCurrentImage(DecodedImage(a)); // a copy shares everything
        QCOMPARE(spy.count(), 1);
        auto other = std::make_shared<DisplayImage>(*display); // same pixels, new object
        s.setCurrentImage(DecodedImage{other, pixels, other, 1.0});
        QCOMPARE(spy.count(), 2);
    }

    void windowTitle_data()
    {
        QTest::addColumn<bool>("hasURL");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty window") << false << 0 << 0 << QStringLiteral("Orva");
        QTest::newRow("single image") << true << 1 << 0 << QStringLiteral("IMG_0042.jpg");
        QTest::newRow("before listing") << true << 0 << 0 << QStringLiteral("IMG_0042.jpg");
        QTest::newRow("third of 17") << true << 17 << 2 << QStringLiteral("IMG_0042.jpg [3/17]");
        QTest::newRow("two") << true << 2 << 1 << QStringLiteral("IMG_0042.jpg [2/2]");
    }
    void windowTitle()
    {
        QFETCH(bool, hasURL);
        QFETCH(int, count);
        QFETCH(int, index);
        QFETCH(QString, expected);
        Fixture f;
        AppState s(f.services);
        if (hasURL)
            s.setCurrentURL(file(QStringLiteral("IMG_0042.jpg")));
        QList<QUrl> files;
        for (int i = 0; i < count; ++i)
            files << file(QStringLiteral("f%1.jpg").arg(i));
        s.setImageFiles(files);
        s.setCurrentIndex(index);
        QCOMPARE(s.windowTitle(), expected);
    }

    void applyDisplayMode_data()
    {
        QTest::addColumn<int>("pending"); // -1: none
        QTest::addColumn<DisplayMode>("mode");
        QTest::addColumn<ZoomAction>("expected");
        QTest::addColumn<int>("zoomSignals");
        QTest::newRow("fit") << -1 << DisplayMode::fitToWindow << ZoomAction::fit << 1;
        QTest::newRow("actual") << -1 << DisplayMode::actualSize << ZoomAction::actualSize << 1;
        QTest::newRow("auto-size asks for fit")
            << -1 << DisplayMode::autoSizeWindow << ZoomAction::fit << 1;
        QTest::newRow("auto-size while fit pending")
            << int(ZoomAction::fit) << DisplayMode::autoSizeWindow << ZoomAction::fit << 0;
        QTest::newRow("actual replaces zoom in")
            << int(ZoomAction::zoomIn) << DisplayMode::actualSize << ZoomAction::actualSize << 1;
    }
    void applyDisplayMode()
    {
        QFETCH(int, pending);
        QFETCH(DisplayMode, mode);
        QFETCH(ZoomAction, expected);
        QFETCH(int, zoomSignals);
        Fixture f;
        AppState s(f.services);
        if (pending >= 0)
            s.setZoomAction(ZoomAction(pending));
        QSignalSpy spy(&s, &AppState::zoomActionChanged);
        s.applyDisplayMode(mode);
        QCOMPARE(spy.count(), zoomSignals);
        QCOMPARE(s.zoomAction(), std::optional(expected));
        QCOMPARE(s.displayMode(), mode);
        QCOMPARE(f.store.values.value(QStringLiteral("displayMode")).toString(), rawValue(mode));
    }

    void resetZoomRequestFollowsDisplayMode()
    {
        Fixture f;
        AppState s(f.services);
        s.resetZoomRequest();
        QCOMPARE(s.zoomAction(), std::optional(ZoomAction::fit));
        s.setZoomAction(std::nullopt);
        s.setDisplayMode(DisplayMode::actualSize);
        s.resetZoomRequest();
        QCOMPARE(s.zoomAction(), std::optional(ZoomAction::actualSize));
        s.setZoomAction(std::nullopt);
        s.setDisplayMode(DisplayMode::autoSizeWindow);
        s.resetZoomRequest();
        QCOMPARE(s.zoomAction(), std::nullopt);
    }

    void replacingTheHideTimerCancelsTheOldOne()
    {
        Fixture f;
        AppState s(f.services);
        QSignalSpy spy(&s, &AppState::hideStatusBarTaskChanged);
        int fired = 0;
        s.setHideStatusBarTask(f.scheduler.after(2.0, [&] { ++fired; }));
        s.setHideStatusBarTask(f.scheduler.after(2.0, [&] { fired += 10; }));
        QCOMPARE(spy.count(), 2);
        f.scheduler.advance(2.0);
        QCOMPARE(fired, 10);
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
