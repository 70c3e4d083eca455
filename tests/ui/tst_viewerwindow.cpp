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
};

QTEST_MAIN(TestViewerWindow)
#include "tst_viewerwindow.moc"
