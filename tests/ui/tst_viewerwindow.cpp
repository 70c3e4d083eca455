// A viewer window as a person uses it: its layers, keys, drops, menus, alert and size.
#include "support/TestFolder.h"
#include "support/TestServices.h"
#include "ui/ImageViewer.h"
#include "ui/MessageView.h"
#include "ui/MetadataPanel.h"
#include "ui/StatusPill.h"
#include "ui/ViewerBackground.h"
#include "ui/ViewerCommands.h"
#include "ui/ViewerWindow.h"
#include "ui/ZoomableImageView.h"

#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace orva;
using namespace orva::test;

namespace {

const QStringList threeFiles{QStringLiteral("a.jpg"), QStringLiteral("b.jpg"),
                             QStringLiteral("c.jpg")};

// A shown window that the test owns (closing only hides it).
struct Shown {
    explicit Shown(TestServices &t) : window(new ViewerWindow(t.services))
    {
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void openAndList(const TestFolder &f, const QString &name, int count)
    {
        window->state().open(f.url(name));
        QTRY_COMPARE(window->state().imageFiles().size(), count);
    }
    ImageViewer &viewer() { return window->viewer(); }
    AppState &state() { return window->state(); }
    std::unique_ptr<ViewerWindow> window;
};

// Sends one key press to the viewer; true when it was handled.
bool press(QWidget &target, Qt::Key key, const QString &text = {}, bool autoRepeat = false)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text, autoRepeat);
    QCoreApplication::sendEvent(&target, &event);
    return event.isAccepted();
}

} // namespace

class TestViewerWindow : public QObject {
    Q_OBJECT

private slots:
    void emptyWindowShowsOnlyTheInvitation()
    {
        TestServices t;
        Shown w(t);
        QCOMPARE(w.window->windowTitle(), QStringLiteral("Orva"));
        QVERIFY(w.viewer().emptyState().isVisible());
        QCOMPARE(w.viewer().emptyState().title(), QStringLiteral("Open an image to start"));
        QCOMPARE(w.viewer().emptyState().caption(),
                 QStringLiteral("Drop a file or use File > Open"));
        QVERIFY(!w.viewer().imageView().isVisible());
        QVERIFY(!w.viewer().statusBar().isVisible());
        QVERIFY(!w.viewer().failureState().isVisible());
        QVERIFY(w.viewer().hasFocus());
        QCOMPARE(w.viewer().emptyState().color(), QColor(Qt::white)); // black background
    }

    void shownFileWithStatusBarTitleAndFailure()
    {
        TestServices t;
        TestFolder f(threeFiles);
        t.images.failing.insert(QStringLiteral("c.jpg"));
        Shown w(t);
        w.openAndList(f, QStringLiteral("b.jpg"), 3);
        QCOMPARE(w.window->windowTitle(), QStringLiteral("b.jpg [2/3]"));
        QVERIFY(!w.viewer().emptyState().isVisible());
        QVERIFY(w.viewer().imageView().isVisible());
        QVERIFY(w.viewer().statusBar().isVisible());
        QTRY_VERIFY(w.state().currentImage());
        const viewer::StatusBarContent &bar = w.viewer().statusBar().content();
        QCOMPARE(bar.position, QStringLiteral("2 / 3"));
        QCOMPARE(bar.zoom, QStringLiteral("%1%").arg(int(w.state().magnification() * 100)));
        // Pinned to the top-right corner.
        const QRect pill = w.viewer().statusBar().geometry();
        QCOMPARE(pill.right(), w.viewer().width() - 1 - StatusPill::inset);
        QCOMPARE(pill.top(), StatusPill::inset);

        // The new file revealed the bar; 2 s later it hides.
        QVERIFY(w.viewer().statusBar().isShown());
        t.scheduler.advance(2.1);
        QVERIFY(!w.viewer().statusBar().isShown());

        QVERIFY(press(w.viewer(), Qt::Key_Right));
        QTRY_VERIFY(w.state().loadFailed());
        QVERIFY(w.viewer().failureState().isVisible());
        QCOMPARE(w.viewer().failureState().title(),
                 QStringLiteral("This image cannot be displayed"));
        // Which file and why, and no zoom left over from the previous image.
        QCOMPARE(w.viewer().failureState().caption(),
                 QStringLiteral("c.jpg \u2014 not an image Orva can read"));
        QCOMPARE(w.viewer().statusBar().content().zoom, QString());
        QCOMPARE(w.viewer().statusBar().content().position, QStringLiteral("3 / 3"));
        QVERIFY(w.viewer().statusBar().isShown()); // every file change shows the bar
        QVERIFY(press(w.viewer(), Qt::Key_Space));
        QCOMPARE(w.state().currentIndex(), 0);
        QVERIFY(press(w.viewer(), Qt::Key_Left));
        QCOMPARE(w.state().currentIndex(), 2);
    }

    void heldKeyStepsOnlyOncePhotosArrive()
    {
        TestServices t;
        TestFolder f(threeFiles);
        t.images.setGated(true);
        Shown w(t);
        w.window->state().open(f.url(QStringLiteral("a.jpg")));
        t.images.release(QStringLiteral("a.jpg"));
        QTRY_VERIFY(w.state().isCurrentFileLoaded());
        QTRY_COMPARE(w.state().imageFiles().size(), 3);
        QVERIFY(press(w.viewer(), Qt::Key_Right, {}, true));
        QCOMPARE(w.state().currentIndex(), 1);
        QVERIFY(press(w.viewer(), Qt::Key_Right, {}, true)); // b.jpg is still decoding
        QCOMPARE(w.state().currentIndex(), 1);
        QVERIFY(press(w.viewer(), Qt::Key_Right)); // a fresh press always steps
        QCOMPARE(w.state().currentIndex(), 2);
        t.images.release(QStringLiteral("c.jpg"));
        QTRY_VERIFY(w.state().isCurrentFileLoaded());
        QVERIFY(press(w.viewer(), Qt::Key_Left, {}, true));
        QCOMPARE(w.state().currentIndex(), 1);
        t.images.setGated(false);
    }

    void tabCyclesTheOverlay()
    {
        TestServices t;
        TestFolder f(threeFiles);
        Shown w(t);
        w.openAndList(f, QStringLiteral("a.jpg"), 3);
        QVERIFY(!w.viewer().metadataPanel().isVisible());
        QTest::keyClick(&w.viewer(), Qt::Key_Tab); // not taken by focus chaining
        QCOMPARE(w.state().overlayMode(), OverlayMode::metadata);
        QVERIFY(w.viewer().metadataPanel().isVisible());
        QCOMPARE(w.viewer().metadataPanel().width(), MetadataPanel::panelWidth);
        QTest::keyClick(&w.viewer(), Qt::Key_Tab);
        QCOMPARE(w.state().overlayMode(), OverlayMode::histogram);
        QVERIFY(!w.viewer().metadataPanel().isVisible());
        QTest::keyClick(&w.viewer(), Qt::Key_Tab);
        QCOMPARE(w.state().overlayMode(), OverlayMode::none);
        QCOMPARE(t.settings.values.value(QStringLiteral("overlayMode")),
                 QVariant(QStringLiteral("none")));
    }

    void escapeChain()
    {
        TestServices t;
        TestFolder f(threeFiles);
        Shown w(t);
        w.openAndList(f, QStringLiteral("a.jpg"), 3);
        w.state().setOverlayMode(OverlayMode::metadata);
        w.state().startSlideshow();
        QTRY_VERIFY(w.window->isFullScreen());

        QVERIFY(press(w.viewer(), Qt::Key_Escape)); // stops the slideshow, leaves its full screen
        QVERIFY(!w.state().isSlideshowRunning());
        QTRY_VERIFY(!w.window->isFullScreen());
        QCOMPARE(w.state().overlayMode(), OverlayMode::metadata);

        w.window->showFullScreen();
        QVERIFY(press(w.viewer(), Qt::Key_Escape)); // closes the overlay
        QCOMPARE(w.state().overlayMode(), OverlayMode::none);
        QVERIFY(w.window->isFullScreen());
        QVERIFY(press(w.viewer(), Qt::Key_Escape)); // leaves full screen
        QTRY_VERIFY(!w.window->isFullScreen());
        QVERIFY(w.window->isVisible());
        QVERIFY(press(w.viewer(), Qt::Key_Escape, {}, true)); // a held key closes nothing
        QVERIFY(w.window->isVisible());
        QVERIFY(press(w.viewer(), Qt::Key_Escape)); // closes the window
        QVERIFY(!w.window->isVisible());
    }

    void fullScreenKeyAndAnimationKeys()
    {
        TestServices t;
        Shown w(t);
        QVERIFY(press(w.viewer(), Qt::Key_F, QStringLiteral("f")));
        QTRY_VERIFY(w.window->isFullScreen());
        QVERIFY(!w.window->menuBar()->isVisible());
        QVERIFY(press(w.viewer(), Qt::Key_F, QStringLiteral("f")));
        QTRY_VERIFY(!w.window->isFullScreen());
        QVERIFY(w.window->menuBar()->isVisible());

        w.state().setAnimationFrameCount(12);
        QVERIFY(press(w.viewer(), Qt::Key_K, QStringLiteral("k")));
        QVERIFY(w.state().isAnimationPaused());
        QVERIFY(press(w.viewer(), Qt::Key_Comma, QStringLiteral(",")));
        QCOMPARE(w.state().animationFrame(), 11);
        QVERIFY(press(w.viewer(), Qt::Key_Period, QStringLiteral(".")));
        QCOMPARE(w.state().animationFrame(), 0);
        QCOMPARE(w.viewer().statusBar().content().frameCounter, QStringLiteral("1 / 12"));
    }

    void digitKeysTagTheFileAndNineFallsThrough()
    {
        TestServices t;
        TestFolder f(threeFiles);
        Shown w(t);
        w.openAndList(f, QStringLiteral("a.jpg"), 3);
        QVERIFY(press(w.viewer(), Qt::Key_1, QStringLiteral("1")));
        QVERIFY(press(w.viewer(), Qt::Key_5, QStringLiteral("5"), true)); // repeats count too
        QCOMPARE(w.state().currentTags(),
                 (QStringList{QStringLiteral("Red"), QStringLiteral("Blue")}));
        QCOMPARE(w.viewer().statusBar().content().tags,
                 (QList<FinderTag>{FinderTag::red, FinderTag::blue}));
        QVERIFY(!press(w.viewer(), Qt::Key_9, QStringLiteral("9")));
        QVERIFY(!press(w.viewer(), Qt::Key_8, QStringLiteral("8")));
        QVERIFY(press(w.viewer(), Qt::Key_0, QStringLiteral("0")));
        QVERIFY(w.state().currentTags().isEmpty());
    }

    void dropOfAFolderAndAPngOpensThePng()
    {
        TestServices t;
        TestFolder f({QStringLiteral("photo.png")});
        QDir(f.dir.path()).mkdir(QStringLiteral("folder"));
        Shown w(t);
        QMimeData mime;
        mime.setUrls({f.url(QStringLiteral("folder")), f.url(QStringLiteral("photo.png"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(&w.viewer(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&w.viewer(), &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(w.state().currentURL(), std::optional(f.url(QStringLiteral("photo.png"))));

        QMimeData folderOnly;
        folderOnly.setUrls({f.url(QStringLiteral("folder"))});
        QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &folderOnly, Qt::LeftButton,
                                Qt::NoModifier);
        refused.setAccepted(false);
        QCoreApplication::sendEvent(&w.viewer(), &refused);
        QVERIFY(!refused.isAccepted());
        QDragMoveEvent move(QPoint(20, 20), Qt::CopyAction, &folderOnly, Qt::LeftButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(&w.viewer(), &move);
        QVERIFY(!move.isAccepted()); // no "can drop" cursor over the window
    }

    void errorAlertShowsTheMessageAndOkClearsIt()
    {
        TestServices t;
        Shown w(t);
        w.state().open(QUrl::fromLocalFile(QStringLiteral("/nowhere/notes.txt")));
        QVERIFY(w.state().errorMessage());
        QMessageBox *alert = w.viewer().errorAlert();
        QVERIFY(alert);
        QTRY_VERIFY(alert->isVisible());
        QCOMPARE(alert->windowTitle(), QStringLiteral("Error"));
        QCOMPARE(alert->text(), *w.state().errorMessage());
        alert->button(QMessageBox::Ok)->click();
        QVERIFY(!w.state().errorMessage());
        // The next error, even at once, gets an alert of its own.
        w.state().setErrorMessage(QStringLiteral("Permission denied"));
        QVERIFY(w.viewer().errorAlert() && w.viewer().errorAlert() != alert);
        QTRY_VERIFY(w.viewer().errorAlert()->isVisible());
        QCOMPARE(w.viewer().errorAlert()->text(), QStringLiteral("Permission denied"));
    }

    void menusFollowTheState()
    {
        TestServices t;
        TestFolder one({QStringLiteral("only.jpg")});
        TestFolder two({QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
        Shown w(t);
        ViewerCommands &c = w.window->commands();
        QCOMPARE(c.open()->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
        QCOMPARE(c.fitToWindow()->shortcut(), QKeySequence(QStringLiteral("Ctrl+1")));
        QCOMPARE(c.slideshow()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+S")));

        w.openAndList(one, QStringLiteral("only.jpg"), 1);
        QVERIFY(!c.slideshow()->isEnabled());
        QVERIFY(!c.animationMenu()->isEnabled()); // a still image
        w.openAndList(two, QStringLiteral("a.jpg"), 2);
        QVERIFY(c.slideshow()->isEnabled());
        c.slideshow()->trigger();
        QVERIFY(w.state().isSlideshowRunning());
        QCOMPARE(c.slideshow()->text(), QStringLiteral("Stop Slideshow"));
        c.slideshow()->trigger();
        QVERIFY(!w.state().isSlideshowRunning());

        // A display-mode toggle re-issues its zoom even when it is the current mode.
        QTRY_VERIFY(!w.state().zoomAction());
        c.fitToWindow()->trigger();
        QCOMPARE(w.state().zoomAction(), std::optional(ZoomAction::fit));
        QVERIFY(c.fitToWindow()->isChecked());
        QTRY_VERIFY(!w.state().zoomAction());
        c.actualSize()->trigger();
        QTRY_VERIFY(c.actualSize()->isChecked() && !c.fitToWindow()->isChecked());

        c.metadata()->trigger();
        QCOMPARE(w.state().overlayMode(), OverlayMode::metadata);
        QVERIFY(c.metadata()->isChecked());

        w.state().setAnimationFrameCount(3);
        QVERIFY(c.animationMenu()->isEnabled());
        w.state().setAnimationPaused(true);
        QCOMPARE(c.playPause()->text(), QStringLiteral("Play Animation"));
    }

    // The display-mode ticks say how the image is shown: zooming leaves every mode.
    void displayModeTicksFollowTheZoom()
    {
        TestServices t;
        TestFolder f(threeFiles);
        Shown w(t);
        ViewerCommands &c = w.window->commands();
        w.openAndList(f, QStringLiteral("a.jpg"), 3);
        QTRY_VERIFY(w.state().currentImage());
        QVERIFY(c.fitToWindow()->isChecked());
        c.zoomIn()->trigger();
        QTRY_VERIFY(!w.state().zoomAction());
        QVERIFY(!c.fitToWindow()->isChecked() && !c.actualSize()->isChecked());
        c.fitToWindow()->trigger();
        QVERIFY(c.fitToWindow()->isChecked());
        QTRY_VERIFY(!w.state().zoomAction());
        c.actualSize()->trigger();
        QTRY_VERIFY(c.actualSize()->isChecked());
        QVERIFY(!c.fitToWindow()->isChecked());
        c.zoomOut()->trigger();
        QTRY_VERIFY(!c.actualSize()->isChecked());
    }

    // Keys the menus show so they can be learnt there, and the ones users of other
    // viewers reach for.
    void menusShowTheViewersOwnKeys()
    {
        TestServices t;
        Shown w(t);
        ViewerCommands &c = w.window->commands();
        const QList<QAction *> tags = c.tagMenu()->actions();
        for (int n = 1; n <= 7; ++n)
            QCOMPARE(tags[n - 1]->shortcut(), QKeySequence(Qt::Key_0 + n));
        QCOMPARE(c.removeTags()->shortcut(), QKeySequence(Qt::Key_0));
        QCOMPARE(c.metadata()->shortcut(), QKeySequence(Qt::Key_Tab));
        QCOMPARE(c.histogram()->shortcut(), QKeySequence(Qt::Key_Tab));
        // Shown only: the keys still reach the viewer, which acts once.
        TestFolder f(threeFiles);
        w.openAndList(f, QStringLiteral("a.jpg"), 3);
        QTest::keyClick(&w.viewer(), Qt::Key_1, Qt::NoModifier);
        QCOMPARE(w.state().currentTags(), QStringList{QStringLiteral("Red")});
        QTest::keyClick(&w.viewer(), Qt::Key_Tab);
        QCOMPARE(w.state().overlayMode(), OverlayMode::metadata);
    }

    void navigationAndZoomKeys_data()
    {
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<int>("index");    // after the key, starting at 1 of 0..3
        QTest::addColumn<QString>("zoom"); // the zoom request it makes, if any
        QTest::newRow("Home") << Qt::Key_Home << 0 << QString();
        QTest::newRow("End") << Qt::Key_End << 3 << QString();
        QTest::newRow("Page Down") << Qt::Key_PageDown << 2 << QString();
        QTest::newRow("Page Up") << Qt::Key_PageUp << 0 << QString();
        QTest::newRow("plus") << Qt::Key_Plus << 1 << QStringLiteral("zoomIn");
        QTest::newRow("minus") << Qt::Key_Minus << 1 << QStringLiteral("zoomOut");
    }
    void navigationAndZoomKeys()
    {
        QFETCH(Qt::Key, key);
        QFETCH(int, index);
        QFETCH(QString, zoom);
        TestServices t;
        TestFolder f({QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg"),
                      QStringLiteral("d.jpg")});
        Shown w(t);
        w.openAndList(f, QStringLiteral("b.jpg"), 4);
        QTRY_VERIFY(w.state().currentImage() && !w.state().zoomAction());
        w.state().setZoomAction(ZoomAction::zoomIn); // so that zooming out has room
        QTRY_VERIFY(!w.state().zoomAction());
        const double before = w.state().magnification();
        QSignalSpy requests(&w.state(), &AppState::zoomActionChanged);
        t.scheduler.advance(2.1);
        QVERIFY(!w.viewer().statusBar().isShown());
        QVERIFY(press(w.viewer(), key));
        QCOMPARE(w.state().currentIndex(), index);
        if (zoom.isEmpty())
            return;
        QVERIFY(!requests.isEmpty());
        QTRY_VERIFY(!w.state().zoomAction());
        QVERIFY(zoom == QLatin1String("zoomIn") ? w.state().magnification() > before
                                                : w.state().magnification() < before);
        // Every zoom change shows the new percentage for a moment.
        QVERIFY(w.viewer().statusBar().isShown());
        QCOMPARE(w.viewer().statusBar().content().zoom,
                 QStringLiteral("%1%").arg(int(w.state().magnification() * 100 + 1e-9)));
    }

    // The overlay lays itself out again whenever its rows change: stepping with it open,
    // and opening with it remembered.
    void metadataPanelFitsItsRows_data()
    {
        QTest::addColumn<bool>("remembered");
        QTest::newRow("stepping") << false;
        QTest::newRow("remembered at launch") << true;
    }
    void metadataPanelFitsItsRows()
    {
        QFETCH(bool, remembered);
        TestServices t;
        t.images.dateTimeOriginal.insert(QStringLiteral("b.jpg"),
                                         QStringLiteral("2024:05:06 07:08:09"));
        if (remembered)
            t.settings.values.insert(QStringLiteral("overlayMode"), QStringLiteral("metadata"));
        TestFolder f(threeFiles);
        Shown w(t);
        MetadataPanel &panel = w.viewer().metadataPanel();
        w.openAndList(f, QStringLiteral("a.jpg"), 3);
        if (!remembered)
            QTest::keyClick(&w.viewer(), Qt::Key_Tab);
        QVERIFY(panel.isVisible());
        const auto allRowsShown = [&panel] {
            const QList<QLabel *> labels = panel.findChildren<QLabel *>();
            qsizetype shown = 0;
            for (const QLabel *l : labels) {
                if (!l->isVisible())
                    continue;
                ++shown;
                const QRect r(l->mapTo(&panel, QPoint()), l->size());
                if (r.bottom() >= panel.height())
                    return false;
            }
            return shown == 1 + 2 * panel.entries().size() && !panel.entries().isEmpty();
        };
        QTRY_VERIFY(!w.state().metadata().isEmpty());
        QTRY_VERIFY(allRowsShown());
        const qsizetype rowsOfA = panel.entries().size();
        // A step's metadata is read a frame after it.
        QVERIFY(press(w.viewer(), Qt::Key_Right)); // b has one row more
        t.scheduler.advance(1.0 / 60);
        QTRY_COMPARE(panel.entries().size(), rowsOfA + 1);
        QVERIFY(allRowsShown());
        QVERIFY(press(w.viewer(), Qt::Key_Right));
        t.scheduler.advance(1.0 / 60);
        QTRY_COMPARE(panel.entries().size(), rowsOfA);
        QVERIFY(allRowsShown());
    }

    // A tiny image in auto-size mode: the window stops at its minimum, where the menu bar
    // and the status bar still fit, and the image sits in its middle at 100%.
    void autoSizeStopsAtTheWindowMinimum()
    {
        TestServices t;
        t.images.fullSize = QSize(32, 32);
        t.settings.values.insert(QStringLiteral("displayMode"), QStringLiteral("autoSizeWindow"));
        TestFolder f({QStringLiteral("tiny.png")});
        Shown w(t);
        w.openAndList(f, QStringLiteral("tiny.png"), 1);
        QTRY_VERIFY(w.state().currentImage());
        QTRY_VERIFY(w.window->size() == w.window->minimumSize());
        QVERIFY(w.window->minimumSize().width() >= 320 && w.window->minimumSize().height() >= 240);
        QTRY_COMPARE(w.state().magnification(), 1.0);
        ZoomableImageView &view = w.window->imageView();
        QCOMPARE(view.clipBounds().center(), QPointF(16, 16));
        QVERIFY(!w.window->menuBar()->isHidden());
    }

    void sortChangesRescanEveryWindow()
    {
        TestServices t;
        TestFolder f(threeFiles);
        Shown a(t), b(t);
        a.openAndList(f, QStringLiteral("a.jpg"), 3);
        b.openAndList(f, QStringLiteral("c.jpg"), 3);
        QCOMPARE(b.state().imageFiles().first().fileName(), QStringLiteral("a.jpg"));
        a.window->commands().descending()->trigger();
        QCOMPARE(t.settings.values.value(QStringLiteral("sortDescending")), QVariant(true));
        QTRY_COMPARE(b.state().imageFiles().first().fileName(), QStringLiteral("c.jpg"));
        QTRY_COMPARE(a.state().currentIndex(), 2);
        QVERIFY(b.window->commands().descending()->isChecked());
    }

    void rememberedSize_data()
    {
        QTest::addColumn<QSize>("remembered");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("restored") << QSize(1000, 700) << "fitToWindow" << QSize(1000, 700);
        QTest::newRow("too narrow") << QSize(99, 700) << "fitToWindow" << QSize(400, 300);
        QTest::newRow("auto-size") << QSize(1000, 700) << "autoSizeWindow" << QSize(400, 300);
    }
    void rememberedSize()
    {
        QFETCH(QSize, remembered);
        QFETCH(QString, mode);
        QFETCH(QSize, expected);
        TestServices t;
        t.settings.values.insert(QStringLiteral("lastWindowWidth"), remembered.width());
        t.settings.values.insert(QStringLiteral("lastWindowHeight"), remembered.height());
        t.settings.values.insert(QStringLiteral("displayMode"), mode);
        ViewerWindow window(t.services);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.resize(400, 300);
        window.show();
        QCOMPARE(window.size(), expected);
        QCOMPARE(window.state().window(), window.windowHandle());
        // Sizes Orva set itself (before showing, restoring) are not remembered.
        t.scheduler.advance(5);
        QCOMPARE(t.settings.values.value(QStringLiteral("lastWindowWidth")).toInt(),
                 remembered.width());
    }

    void backgroundStylesAndMessageColour()
    {
        QImage board(105, 95, QImage::Format_RGB32);
        QPainter painter(&board);
        viewer::paintBackground(painter, board.rect(), BackgroundStyle::checkerboard);
        painter.end();
        const int dark = qRound(0.82 * 255), light = qRound(0.96 * 255);
        QCOMPARE(qRed(board.pixel(0, 0)), dark);    // top-left square is dark
        QCOMPARE(qRed(board.pixel(15, 5)), light);  // then they alternate
        QCOMPARE(qRed(board.pixel(15, 15)), dark);  // row 1 starts light
        QCOMPARE(qRed(board.pixel(102, 5)), light); // 9 rows, 10 columns: the edges stay light
        QCOMPARE(qRed(board.pixel(5, 92)), light);

        TestServices t;
        Shown w(t);
        Settings(t.settings).setBackgroundStyle(BackgroundStyle::white);
        QCOMPARE(w.viewer().emptyState().color(), QColor(Qt::black));
        QCOMPARE(w.viewer().grab().toImage().pixelColor(2, 2), QColor(Qt::white));
    }

    void userResizeIsRememberedForTheNextWindow()
    {
        TestServices t;
        {
            Shown w(t);
            t.scheduler.advance(2);     // past the restore
            w.window->resize(640, 480); // what a drag by the window manager looks like
            t.scheduler.advance(0.6);
            QCOMPARE(t.settings.values.value(QStringLiteral("lastWindowWidth")).toDouble(), 640.0);
            QCOMPARE(t.settings.values.value(QStringLiteral("lastWindowHeight")).toDouble(), 480.0);
        }
        ViewerWindow next(t.services);
        next.setAttribute(Qt::WA_DeleteOnClose, false);
        next.show();
        QCOMPARE(next.size(), QSize(640, 480));
    }
};

QTEST_MAIN(TestViewerWindow)
#include "tst_viewerwindow.moc"
