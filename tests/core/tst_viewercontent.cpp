// The viewer's status-bar text, key meanings, drops and window-size memory, without widgets.
#include "core/state/AppState.h"
#include "core/view/ViewerContent.h"
#include "core/view/WindowSizing.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QDir>
#include <QtTest>

using namespace orva;
using namespace orva::test;

Q_DECLARE_METATYPE(orva::DecodeFailure)

namespace {

QList<QUrl> urls(int n)
{
    QList<QUrl> out;
    for (int i = 0; i < n; ++i)
        out << QUrl::fromLocalFile(QStringLiteral("/p/%1.jpg").arg(i));
    return out;
}

} // namespace

class TestViewerContent : public QObject {
    Q_OBJECT

private slots:
    void statusBarItems()
    {
        TestServices t;
        AppState s(t.services);
        s.setCurrentImage(
            t.images.decodeImage(QUrl::fromLocalFile(QStringLiteral("/p/0.jpg")), 64));
        // A single image: only the zoom, truncated (a fitted 1000-pixel image in 650 points).
        s.setImageFiles(urls(1));
        s.setMagnification(0.65);
        viewer::StatusBarContent c = viewer::statusBarContent(s);
        QCOMPARE(c.zoom, QStringLiteral("65%"));
        QVERIFY(c.position.isEmpty() && c.frameCounter.isEmpty() && c.tags.isEmpty());
        s.setMagnification(0.6599);
        QCOMPARE(viewer::statusBarContent(s).zoom, QStringLiteral("65%"));
        s.setMagnification(570.0 / 1000.0); // 56.99999... in binary
        QCOMPARE(viewer::statusBarContent(s).zoom, QStringLiteral("57%"));
        s.setMagnification(20);
        QCOMPARE(viewer::statusBarContent(s).zoom, QStringLiteral("2000%"));

        // Tags in tag order whatever the file's order; names that are no colour are skipped.
        s.setCurrentTags({QStringLiteral("Gray"), QStringLiteral("Work"), QStringLiteral("Red")});
        s.setImageFiles(urls(20));
        s.setCurrentIndex(1);
        c = viewer::statusBarContent(s);
        QCOMPARE(c.tags, (QList<FinderTag>{FinderTag::red, FinderTag::gray}));
        QCOMPARE(c.position, QStringLiteral("2 / 20"));

        // The frame counter shows only while a multi-frame animation is paused.
        s.setAnimationFrameCount(12);
        s.setAnimationFrame(2);
        QVERIFY(viewer::statusBarContent(s).frameCounter.isEmpty());
        s.setAnimationPaused(true);
        QCOMPARE(viewer::statusBarContent(s).frameCounter, QStringLiteral("3 / 12"));
        s.setAnimationFrameCount(1);
        QVERIFY(viewer::statusBarContent(s).frameCounter.isEmpty());

        // A failed file, or one not decoded yet, has no zoom to show; the rest stays.
        s.setLoadFailed(true);
        c = viewer::statusBarContent(s);
        QVERIFY(c.zoom.isEmpty());
        QCOMPARE(c.position, QStringLiteral("2 / 20"));
        s.setLoadFailed(false);
        s.setCurrentImage(std::nullopt);
        QVERIFY(viewer::statusBarContent(s).zoom.isEmpty());
    }

    void failureCaptions_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<DecodeFailure>("reason");
        QTest::addColumn<QString>("caption");
        const auto row = [](const char *name, const char *path, DecodeFailure reason,
                            const char *file, const char *words) {
            QTest::newRow(name) << QString::fromLatin1(path) << reason
                                << QString::fromLatin1(file) + QStringLiteral(" \u2014 ") +
                                       QString::fromLatin1(words);
        };
        row("damaged", "/p/b c.png", DecodeFailure::damaged, "b c.png", "the file is damaged");
        // A folder's URL may end in a slash; it is still named.
        row("folder", "/p/trip/", DecodeFailure::noImages, "trip",
            "no images Orva can read in this folder");
    }
    void failureCaptions()
    {
        QFETCH(QString, path);
        QFETCH(DecodeFailure, reason);
        QFETCH(QString, caption);
        QCOMPARE(viewer::failureCaption({QUrl::fromLocalFile(path), reason}), caption);
    }

    void digitKeys()
    {
        TestServices t;
        TestFolder f({QStringLiteral("a.jpg")});
        t.tags.tags.insert(QStringLiteral("a.jpg"), {QStringLiteral("Work")});
        AppState s(t.services);
        s.open(f.url(QStringLiteral("a.jpg")));

        const QStringList names{QStringLiteral("Red"),    QStringLiteral("Orange"),
                                QStringLiteral("Yellow"), QStringLiteral("Green"),
                                QStringLiteral("Blue"),   QStringLiteral("Purple"),
                                QStringLiteral("Gray")};
        for (int n = 1; n <= 7; ++n) {
            QVERIFY(viewer::handleDigitKey(s, QString::number(n)));
            QCOMPARE(s.currentTags().last(), names[n - 1]);
        }
        QVERIFY(viewer::handleDigitKey(s, QStringLiteral("2"))); // toggles off again
        QVERIFY(!s.currentTags().contains(QStringLiteral("Orange")));
        QVERIFY(viewer::handleDigitKey(s, QStringLiteral("0")));
        QCOMPARE(s.currentTags(), QStringList{QStringLiteral("Work")});

        // Not a tag number, or not a number: the key passes on and nothing changes.
        for (const char *text : {"8", "9", "a", "", " 1", "1.5"})
            QVERIFY2(!viewer::handleDigitKey(s, QString::fromLatin1(text)), text);
        QCOMPARE(s.currentTags(), QStringList{QStringLiteral("Work")});
    }

    void tabCyclesAndEscapeTakesTheFirstApplicableStep()
    {
        using viewer::EscapeStep;
        QCOMPARE(viewer::nextOverlayMode(OverlayMode::none), OverlayMode::metadata);
        QCOMPARE(viewer::nextOverlayMode(OverlayMode::metadata), OverlayMode::histogram);
        QCOMPARE(viewer::nextOverlayMode(OverlayMode::histogram), OverlayMode::none);

        TestServices t;
        AppState s(t.services);
        s.setSlideshowRunning(true);
        s.setOverlayMode(OverlayMode::metadata);
        QCOMPARE(viewer::escapeStep(s, true), EscapeStep::stopSlideshow);
        s.setSlideshowRunning(false);
        QCOMPARE(viewer::escapeStep(s, true), EscapeStep::closeOverlay);
        s.setOverlayMode(OverlayMode::none);
        QCOMPARE(viewer::escapeStep(s, true), EscapeStep::leaveFullScreen);
        QCOMPARE(viewer::escapeStep(s, false), EscapeStep::closeWindow);
    }

    void restoredFrameKeepsTheTopLeftCorner()
    {
        const QRect frame(100, 100, 800, 600);
        QCOMPARE(restoredWindowFrame(frame, QSizeF(1000, 700), DisplayMode::fitToWindow),
                 QRect(100, 100, 1000, 700));
        QCOMPARE(restoredWindowFrame(frame, QSizeF(1000, 700), DisplayMode::autoSizeWindow), frame);
        QCOMPARE(restoredWindowFrame(frame, std::nullopt, DisplayMode::actualSize), frame);
    }

    void onlyUserResizesAreRemembered()
    {
        VirtualScheduler clock;
        QList<QSize> saved;
        LiveResizeTracker tracker(clock, [&saved](QSize s) { saved << s; });

        // A drag: many sizes, reported once, when they settle.
        tracker.resized(QSize(700, 500), true);
        clock.advance(0.2);
        tracker.resized(QSize(640, 480), true);
        clock.advance(LiveResizeTracker::settleTime - 0.01);
        QVERIFY(saved.isEmpty());
        clock.advance(0.02);
        QCOMPARE(saved, QList<QSize>{QSize(640, 480)});

        // Orva's own resizes (auto-size, restoring) and full screen are not the user's.
        tracker.expectProgrammaticResize();
        tracker.resized(QSize(1200, 900), true);
        tracker.resized(QSize(1920, 1080), false);
        clock.advance(5);
        QCOMPARE(saved.size(), 1);
        // A drag that began before a programmatic resize is dropped with it.
        tracker.resized(QSize(300, 300), true);
        clock.advance(0.1);
        tracker.expectProgrammaticResize();
        clock.advance(5);
        QCOMPARE(saved.size(), 1);
    }
};

QTEST_MAIN(TestViewerContent)
#include "tst_viewercontent.moc"
