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
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
