// Slideshow stepping and full screen, the status bar's hold and fade timing, colour tags.
#include "core/state/AppState.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QWindow>
#include <QtTest>

using namespace orva;
using namespace orva::test;

namespace {

const QStringList threeFiles{QStringLiteral("a.jpg"), QStringLiteral("b.jpg"),
                             QStringLiteral("c.jpg")};

} // namespace

class TestViewerTimers : public QObject {
    Q_OBJECT

private slots:
    void slideshowEndsWhenTheListShrinksToOneFile()
    {
        TestServices t;
        TestFolder f(threeFiles);
        AppState s(t.services);
        openAndList(s, f, QStringLiteral("a.jpg"), 3);
        s.startSlideshow();
        s.removeFromList(f.url(QStringLiteral("a.jpg")));
        s.removeFromList(f.url(QStringLiteral("b.jpg")));
        QVERIFY(s.isSlideshowRunning());
        t.scheduler.advance(5);
        QVERIFY(!s.isSlideshowRunning());
        QCOMPARE(t.pointer.hides, 0);
        QCOMPARE(s.currentURL(), std::optional(f.url(QStringLiteral("c.jpg"))));
    }

    void slideshowStepsWithWrapAroundAtTheInterval_data()
    {
        QTest::addColumn<std::optional<double>>("stored");
        QTest::addColumn<double>("interval");
        QTest::newRow("default") << std::optional<double>() << 5.0;
        QTest::newRow("ten seconds") << std::optional<double>(10.0) << 10.0;
    }
    void slideshowStepsWithWrapAroundAtTheInterval()
    {
        QFETCH(std::optional<double>, stored);
        QFETCH(double, interval);
        TestServices t;
        if (stored)
            t.settings.values.insert(QStringLiteral("slideshowInterval"), *stored);
        TestFolder f(threeFiles);
        AppState s(t.services);
        openAndList(s, f, QStringLiteral("c.jpg"), 3);
        QCOMPARE(s.currentIndex(), 2);

        s.startSlideshow();
        QVERIFY(s.isSlideshowRunning());
        t.scheduler.advance(interval - 0.01);
        QCOMPARE(s.currentIndex(), 2);
        QList<int> shown;
        for (int i = 0; i < 4; ++i) {
            t.scheduler.advance(i == 0 ? 0.01 : interval);
            shown << s.currentIndex();
        }
        QCOMPARE(shown, (QList<int>{0, 1, 2, 0}));
        QCOMPARE(t.pointer.hides, 4); // before every step

        // Manual steps do not restart the timing.
        t.scheduler.advance(interval / 2);
        s.navigate(+1);
        t.scheduler.advance(interval / 2);
        QCOMPARE(s.currentIndex(), 2);

        s.stopSlideshow();
        QVERIFY(!s.isSlideshowRunning());
        t.scheduler.advance(interval * 3);
        QCOMPARE(s.currentIndex(), 2);
    }

    // Full screen is entered only from a normal window and left only when the slideshow
    // entered it and the user has not left it already.
    void slideshowFullScreenRules_data()
    {
        QTest::addColumn<bool>("startFullScreen");
        QTest::addColumn<bool>("userLeavesFullScreen");
        QTest::addColumn<bool>("fullScreenDuring");
        QTest::addColumn<bool>("fullScreenAfter");
        QTest::newRow("normal window") << false << false << true << false;
        QTest::newRow("already full screen") << true << false << true << true;
        QTest::newRow("user left it meanwhile") << false << true << false << false;
    }
    void slideshowFullScreenRules()
    {
        QFETCH(bool, startFullScreen);
        QFETCH(bool, userLeavesFullScreen);
        QFETCH(bool, fullScreenDuring);
        QFETCH(bool, fullScreenAfter);
        TestServices t;
        TestFolder f(threeFiles);
        AppState s(t.services);
        QWindow window;
        window.resize(400, 300);
        window.show();
        if (startFullScreen)
            window.showFullScreen();
        s.setWindow(&window);
        openAndList(s, f, QStringLiteral("a.jpg"), 3);

        s.startSlideshow();
        QVERIFY(isFullScreen(&window));
        if (userLeavesFullScreen)
            toggleFullScreen(&window);
        QCOMPARE(isFullScreen(&window), fullScreenDuring);
        s.stopSlideshow();
        QCOMPARE(isFullScreen(&window), fullScreenAfter);
        QVERIFY(!s.slideshowEnteredFullScreen());
    }

    void statusBarStaysWhileTheMouseMovesAndHidesTwoSecondsAfter()
    {
        TestServices t;
        AppState s(t.services);
        QWindow window;
        s.setWindow(&window);
        QVERIFY(s.showStatusBar()); // shown at creation, no timer yet
        QVERIFY(!s.hideStatusBarTask().isPending());

        for (int second = 0; second <= 10; ++second) {
            t.pointer.move(&window);
            QVERIFY(s.showStatusBar());
            t.scheduler.advance(1.0);
            QVERIFY2(s.showStatusBar(), qPrintable(QString::number(second)));
        }
        // Last movement at t = 10; one second has passed since.
        t.scheduler.advance(0.99);
        QVERIFY(s.showStatusBar());
        t.scheduler.advance(0.02);
        QVERIFY(!s.showStatusBar());
        QVERIFY(!s.hideStatusBarTask().isPending());

        // A new file reveals it again.
        s.revealStatusBar();
        QVERIFY(s.showStatusBar());
        t.scheduler.advance(2.0);
        QVERIFY(!s.showStatusBar());
    }

    void colourTagWritesThatFailKeepTheTags()
    {
        TestServices t;
        TestFolder f({QStringLiteral("a.jpg")});
        t.tags.tags.insert(QStringLiteral("a.jpg"),
                           {QStringLiteral("Work"), QStringLiteral("Red")});
        AppState s(t.services);
        s.open(f.url(QStringLiteral("a.jpg")));
        s.removeColorTags(); // toggling itself: tst_viewercontent's digitKeys
        QCOMPARE(s.currentTags(), QStringList{QStringLiteral("Work")});

        // Nothing to remove on a file system that cannot keep tags: no write, no alert.
        t.tags.writeError = QStringLiteral("Operation not supported");
        s.removeColorTags();
        QVERIFY(!s.errorMessage());

        // A failed write keeps the tags shown and says why.
        s.toggleTag(FinderTag::green);
        QCOMPARE(s.currentTags(), QStringList{QStringLiteral("Work")});
        QCOMPARE(s.errorMessage(), std::optional(QStringLiteral("Operation not supported")));
    }
};

QTEST_MAIN(TestViewerTimers)
#include "tst_viewertimers.moc"
