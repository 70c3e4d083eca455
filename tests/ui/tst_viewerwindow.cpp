// Viewer and settings windows as a person uses them. GIO sees only desktop entries of the
// test's own, and the trash is in the test's own folder.
#include "core/settings/Settings.h"
#include "core/view/ThumbnailStrip.h"
#include "platform/desktop/GioDesktopServices.h"
#include "support/MemorySettingsStore.h"
#include "support/RealFileServices.h"
#include "support/TestFolder.h"
#include "ui/HistogramView.h"
#include "ui/ImageViewer.h"
#include "ui/MessageView.h"
#include "ui/MetadataPanel.h"
#include "ui/NavigatorOverlay.h"
#include "ui/SettingsWindow.h"
#include "ui/StatusPill.h"
#include "ui/ThumbnailBar.h"
#include "ui/ViewerBackground.h"
#include "ui/ViewerCommands.h"
#include "ui/ViewerWindow.h"
#include "ui/ZoomableImageView.h"

#include <QtTest>
#include <QtWidgets>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

QTemporaryDir *home = nullptr; // XDG data and config

void setUpDesktop()
{
    const QByteArray entry = "[Desktop Entry]\nType=Application\nExec=true %F\nName=";
    for (const auto &[name, text] :
         {std::pair{u"data/applications/orva.desktop"_s,
                    entry + "Orva\nMimeType=image/png;image/jpeg;\n"},
          {u"data/applications/painter.desktop"_s, entry + "Second Painter\nMimeType=image/png;\n"},
          {u"config/mimeapps.list"_s, "[Default Applications]\nimage/png=painter.desktop\n"_ba}}) {
        QDir().mkpath(QFileInfo(home->filePath(name)).absolutePath());
        QFile f(home->filePath(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(text);
    }
    QDir().mkpath(home->filePath(u"system"_s));
    QFile::link(u"/usr/share/mime"_s, home->filePath(u"system/mime"_s));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(home->filePath(u"system"_s)));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home->filePath(u"data"_s)));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home->filePath(u"config"_s)));
}

const QStringList threeFiles{u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s};

// A shown window that the test owns (closing only hides it).
struct Shown {
    explicit Shown(const AppServices &services, QSize size = {})
        : window(new ViewerWindow(services))
    {
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        if (!size.isEmpty())
            window->resize(size);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    ImageViewer &viewer() { return window->viewer(); }
    AppState &state() { return window->state(); }
    ViewerCommands &commands() { return window->commands(); }
    ThumbnailBar &strip() { return window->viewer().thumbnailBar(); }
    QColor at(QWidget &w, QPointF p) { return w.grab().toImage().pixelColor(p.toPoint()); }
    std::unique_ptr<ViewerWindow> window;
};

// Sends one key press to the viewer; true when it was handled.
bool press(Shown &w, Qt::Key key, bool autoRepeat = false)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
    QCoreApplication::sendEvent(&w.viewer(), &event);
    return event.isAccepted();
}

QImage filled(const QColor &colour)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QPushButton *button(QWidget *dialog, const QString &text)
{
    for (QPushButton *b : dialog->findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

QString defaultAppText(SettingsWindow &w, const QString &formatName)
{
    // Application names come from desktop entries: shown as plain text only.
    const auto *label = w.fileTypeRow(formatName)->findChild<QLabel *>(u"defaultApp"_s);
    return label && label->textFormat() == Qt::PlainText ? label->text() : QString();
}

// The row's "Use Orva" button; none while Orva opens the type.
QPushButton *useOrva(SettingsWindow &w, const QString &formatName)
{
    return w.fileTypeRow(formatName)->findChild<QPushButton *>(u"useOrva"_s);
}

bool isPlainAlert(const QMessageBox *box, const QString &title, const QString &text)
{
    return box && box->windowTitle() == title && box->textFormat() == Qt::PlainText &&
           box->text() == text;
}

bool near(double a, double b) { return qAbs(a - b) < 0.02; }

} // namespace

class TestViewerWindow : public QObject {
    Q_OBJECT

private slots:
    void keysMenusAndStatusBarFollowTheState()
    {
        TestServices t;
        TestFolder one({u"only.jpg"_s}), f({u"a.jpg"_s, u"b[*].jpg"_s, u"c.jpg"_s, u"d.jpg"_s});
        t.images.failing.insert(u"d.jpg"_s);
        Shown w(t.services);
        ViewerCommands &c = w.commands();
        openAndList(w.state(), one, u"only.jpg"_s, 1);
        QVERIFY(!c.slideshow()->isEnabled() && !c.animationMenu()->isEnabled()); // a still image
        openAndList(w.state(), f, u"b[*].jpg"_s, 4);
        // "[*]" is Qt's placeholder for the modified mark; the title must keep it.
        QCOMPARE(w.window->windowHandle()->title(), u"b[*].jpg [2/4]"_s);
        QVERIFY(!w.viewer().emptyState().isVisible() && w.viewer().imageView().isVisible());
        QTRY_VERIFY(w.state().currentImage() && !w.state().zoomAction());
        StatusPill &bar = w.viewer().statusBar();
        const auto zoom = [&w] {
            return u"%1%"_s.arg(int(w.state().magnification() * 100 + 1e-9));
        };
        QVERIFY(bar.isVisible() && bar.isShown()); // the new file revealed it
        QCOMPARE(std::pair(bar.content().position, bar.content().zoom),
                 std::pair(u"2 / 4"_s, zoom()));
        QCOMPARE(bar.geometry().topRight(), // pinned to the top-right corner
                 QPoint(w.viewer().width() - 1 - StatusPill::inset, StatusPill::inset));
        // A display-mode toggle re-issues its zoom even when it is the current mode.
        c.fitToWindow()->trigger();
        QCOMPARE(w.state().zoomAction(), std::optional(ZoomAction::fit));
        QVERIFY(c.fitToWindow()->isChecked());
        QTRY_VERIFY(!w.state().zoomAction());
        c.actualSize()->trigger();
        QTRY_VERIFY(c.actualSize()->isChecked() && !c.fitToWindow()->isChecked());
        // Every zoom change shows the new percentage for a moment.
        for (const auto &[key, direction] : {std::pair{Qt::Key_Plus, 1}, {Qt::Key_Minus, -1}}) {
            t.scheduler.advance(2.1);
            QVERIFY(!bar.isShown());
            const double before = w.state().magnification();
            QVERIFY(press(w, key));
            QTRY_VERIFY(!w.state().zoomAction());
            QVERIFY((w.state().magnification() - before) * direction > 0);
            QVERIFY(bar.isShown());
            QCOMPARE(bar.content().zoom, zoom());
        }

        t.scheduler.advance(2.1);
        const std::pair<Qt::Key, int> steps[]{
            {Qt::Key_PageDown, 2}, {Qt::Key_PageUp, 1}, {Qt::Key_Home, 0}, {Qt::Key_Left, 3},
            {Qt::Key_Space, 0},    {Qt::Key_Right, 1},  {Qt::Key_End, 3}};
        for (const auto &[key, index] : steps) {
            QVERIFY(press(w, key));
            QCOMPARE(w.state().currentIndex(), index);
        }
        QTRY_VERIFY(w.viewer().failureState().isVisible());
        QCOMPARE(w.viewer().failureState().title(), u"This image cannot be displayed"_s);
        // Which file and why, and no zoom left over from the previous image.
        QCOMPARE(w.viewer().failureState().caption(), u"d.jpg \u2014 not an image Orva can read"_s);
        QCOMPARE(std::pair(bar.content().position, bar.content().zoom),
                 std::pair(u"4 / 4"_s, QString()));
        QVERIFY(bar.isShown()); // every file change shows the bar

        c.slideshow()->trigger();
        QVERIFY(w.state().isSlideshowRunning());
        QCOMPARE(c.slideshow()->text(), u"Stop Slideshow"_s);
        c.metadata()->trigger();
        QVERIFY(w.state().overlayMode() == OverlayMode::metadata && c.metadata()->isChecked());
        w.state().setAnimationFrameCount(3);
        QVERIFY(c.animationMenu()->isEnabled());
        w.state().setAnimationPaused(true);
        QCOMPARE(c.playPause()->text(), u"Play Animation"_s);
    }

    void heldKeyStepsOnlyOncePhotosArrive()
    {
        TestServices t;
        TestFolder f(threeFiles);
        t.images.setGated(true);
        Shown w(t.services);
        w.state().open(f.url(u"a.jpg"_s));
        t.images.release(u"a.jpg"_s);
        QTRY_VERIFY(w.state().isCurrentFileLoaded());
        QTRY_COMPARE(w.state().imageFiles().size(), 3);
        // b.jpg is still decoding when the second repeat comes; a fresh press always steps.
        for (const auto &[repeat, index] : {std::pair{true, 1}, {true, 1}, {false, 2}}) {
            QVERIFY(press(w, Qt::Key_Right, repeat));
            QCOMPARE(w.state().currentIndex(), index);
        }
        t.images.release(u"c.jpg"_s);
        QTRY_VERIFY(w.state().isCurrentFileLoaded());
        QVERIFY(press(w, Qt::Key_Left, true));
        QCOMPARE(w.state().currentIndex(), 1);
        t.images.setGated(false);
    }

    void dropOfAFolderAndAPngOpensThePng()
    {
        TestServices t;
        TestFolder f({u"photo.png"_s});
        QDir(f.dir.path()).mkdir(u"folder"_s);
        Shown w(t.services);
        QMimeData both, folderOnly;
        both.setUrls({f.url(u"folder"_s), f.url(u"photo.png"_s)});
        folderOnly.setUrls({f.url(u"folder"_s)});
        const auto accepted = [&w](auto &&event) {
            event.setAccepted(false);
            QCoreApplication::sendEvent(&w.viewer(), &event);
            return event.isAccepted();
        };
        const QPoint at(10, 10);
        const auto copy = Qt::CopyAction;
        QVERIFY(accepted(QDragEnterEvent(at, copy, &both, Qt::LeftButton, Qt::NoModifier)));
        QVERIFY(accepted(QDropEvent(at, copy, &both, Qt::LeftButton, Qt::NoModifier)));
        QCOMPARE(w.state().currentURL(), std::optional(f.url(u"photo.png"_s)));
        QVERIFY(!accepted(QDragEnterEvent(at, copy, &folderOnly, Qt::LeftButton, Qt::NoModifier)));
        // No "can drop" cursor over the window.
        QVERIFY(!accepted(QDragMoveEvent(at, copy, &folderOnly, Qt::LeftButton, Qt::NoModifier)));
    }

    void errorAlertShowsTheMessageAsStoredAndOkClearsIt()
    {
        TestServices t;
        Shown w(t.services);
        w.state().setErrorMessage(u"Cannot move “<b>x</b>.jpg”"_s);
        QMessageBox *alert = w.viewer().errorAlert();
        QTRY_VERIFY(alert && alert->isVisible());
        QVERIFY(isPlainAlert(alert, u"Error"_s, u"Cannot move “<b>x</b>.jpg”"_s));
        alert->button(QMessageBox::Ok)->click();
        QVERIFY(!w.state().errorMessage());
        // The next error, even at once, gets an alert of its own.
        w.state().setErrorMessage(u"Permission denied"_s);
        QVERIFY(w.viewer().errorAlert() && w.viewer().errorAlert() != alert);
        QTRY_VERIFY(w.viewer().errorAlert()->isVisible());
    }

    // The overlay lays itself out again whenever its rows change: stepping with it open,
    // and opening with it remembered.
    void metadataPanelFitsItsRows()
    {
        for (const bool remembered : {false, true}) {
            TestServices t;
            t.images.dateTimeOriginal.insert(u"b.jpg"_s, u"2024:05:06 07:08:09"_s);
            if (remembered)
                t.settings.values.insert(u"overlayMode"_s, u"metadata"_s);
            TestFolder f(threeFiles);
            Shown w(t.services);
            MetadataPanel &panel = w.viewer().metadataPanel();
            openAndList(w.state(), f, u"a.jpg"_s, 3);
            if (!remembered)
                QTest::keyClick(&w.viewer(), Qt::Key_Tab);
            QVERIFY(panel.isVisible());
            const auto allRowsShown = [&panel] {
                qsizetype shown = 0;
                for (const QLabel *l : panel.findChildren<QLabel *>()) {
                    if (!l->isVisible())
                        continue;
                    ++shown;
                    if (l->mapTo(&panel, QPoint(0, l->height() - 1)).y() >= panel.height())
                        return false;
                }
                return shown == 1 + 2 * panel.entries().size() && !panel.entries().isEmpty();
            };
            QTRY_VERIFY(!w.state().metadata().isEmpty());
            QTRY_VERIFY(allRowsShown());
            const qsizetype rowsOfA = panel.entries().size();
            // A step's metadata is read a frame after it.
            for (const qsizetype rows : {rowsOfA + 1, rowsOfA}) { // b has one row more
                QVERIFY(press(w, Qt::Key_Right));
                t.scheduler.advance(1.0 / 60);
                QTRY_COMPARE(panel.entries().size(), rows);
                QVERIFY(allRowsShown());
            }
        }
    }

    void metadataValuesShowAsStored()
    {
        const QString markup = u"<b>BIG</b><font color=red size=7>RED</font><img src=\"/x.png\">"_s;
        MetadataPanel panel;
        panel.setEntries({{u"Model"_s, markup}, {u"Camera"_s, u"A & B <Co>"_s}});
        qsizetype found = 0;
        for (QLabel *label : panel.findChildren<QLabel *>()) {
            QCOMPARE(label->textFormat(), Qt::PlainText);
            found += label->text() == markup;
        }
        QCOMPARE(found, 1);
    }

    void navigatorMovesTheView()
    {
        TestServices t;
        t.images.fullSize = QSize(6000, 4000);
        TestFolder f({u"big.jpg"_s});
        Shown w(t.services, {800, 600});
        AppState &s = w.state();
        s.open(f.url(u"big.jpg"_s));
        QTRY_VERIFY(s.currentImage());
        NavigatorOverlay &nav = w.viewer().navigator();
        QTRY_COMPARE(s.visibleRect(), QRectF(0, 0, 1, 1));
        QVERIFY(!nav.isVisible()); // fitted: the whole image is on screen

        s.applyDisplayMode(DisplayMode::actualSize);
        QTRY_VERIFY(nav.isVisible());
        QCOMPARE(nav.mapSize(), QSizeF(150, 100));
        // 12 points from the corner of the visible image area, clear of scroll bars.
        const QWidget *viewport = w.viewer().imageView().viewport();
        const QPoint corner = viewport->mapTo(&w.viewer(), viewport->rect().bottomRight());
        QCOMPARE(nav.mapRect().translated(nav.pos()).bottomRight(), corner + QPointF(-11, -11));

        // A click in the top-left quarter centres that point; the press counts as a drag.
        QTest::mousePress(&nav, Qt::LeftButton, {},
                          (nav.mapRect().topLeft() + QPointF(37.5, 25)).toPoint());
        QVERIFY(s.isNavigatorDragging());
        QTRY_VERIFY(near(s.visibleRect().center().x(), 0.25) &&
                    near(s.visibleRect().center().y(), 0.75));
        // Dragging past the bottom-right corner of the map stops at the image's corner.
        const QPoint past = (nav.mapRect().bottomRight() + QPointF(60, 60)).toPoint();
        QTest::mouseMove(&nav, past);
        QTRY_VERIFY(near(s.visibleRect().right(), 1.0) && near(s.visibleRect().y(), 0.0));
        QTest::mouseRelease(&nav, Qt::LeftButton, {}, past);
        QVERIFY(!s.isNavigatorDragging());

        // While a drag goes on the map stays, even with the whole image back in view.
        QTest::mousePress(&nav, Qt::LeftButton, {}, nav.mapRect().center().toPoint());
        s.applyDisplayMode(DisplayMode::fitToWindow);
        QTRY_COMPARE(s.visibleRect(), QRectF(0, 0, 1, 1));
        QVERIFY(nav.isVisible());
        QTest::mouseRelease(&nav, Qt::LeftButton, {}, nav.mapRect().center().toPoint());
        QVERIFY(!nav.isVisible());
    }

    // The strip along the bottom with the current cell outlined, the histogram in the top-left
    // corner, and one background style for every window, all following the shown file.
    void stripHistogramAndBackgroundsFollowTheShownFile()
    {
        TestServices t;
        TestFolder f(threeFiles);
        t.images.thumbnails.insert(u"a.jpg"_s, filled(Qt::red));
        t.images.thumbnails.insert(u"b.jpg"_s, filled(Qt::blue));
        t.images.failing.insert(u"c.jpg"_s);
        Shown w(t.services, {600, 400}), two(t.services, {600, 400});
        openAndList(w.state(), f, u"a.jpg"_s, 3);
        HistogramView &panel = w.viewer().histogramView();
        // Tab twice: metadata, then the histogram.
        press(w, Qt::Key_Tab);
        press(w, Qt::Key_Tab);
        QVERIFY(panel.isVisible() && w.commands().histogram()->isChecked());
        QCOMPARE(panel.pos(), QPoint(HistogramView::inset, HistogramView::inset));
        QTRY_COMPARE(panel.loader().status(), HistogramLoader::Status::ready);
        QCOMPARE(panel.loader().data()->red[255], quint32(64 * 48));
        // The red spike at the right edge of the plot, green and blue ones at its left.
        const QRect plot = panel.plotRect();
        const QColor right = w.at(panel, plot.topRight() + QPoint(0, 10));
        QVERIFY2(right.red() > 60 && right.green() < 30 && right.blue() < 30,
                 qPrintable(right.name()));
        const QColor left = w.at(panel, plot.topLeft() + QPoint(0, 10));
        QVERIFY2(left.green() > 40 && left.blue() > 40, qPrintable(left.name()));

        QVERIFY(!w.strip().isVisible());
        // Shown along the bottom, 60 points high, and remembered.
        w.commands().thumbnails()->trigger();
        QVERIFY(w.strip().isVisible() && Settings(t.settings).showThumbnailBar());
        const QRect content = w.viewer().rect();
        QCOMPARE(w.strip().geometry(), QRect(0, content.height() - 60, content.width(), 60));
        // The current cell is outlined in white (the middle of its top edge), the other not.
        const auto cell = [&w](int i, bool top) {
            const QRectF r = w.strip().cellRect(i);
            return w.at(w.strip(), QPointF(r.center().x(), top ? r.top() : r.center().y()));
        };
        QTRY_COMPARE(cell(1, false), QColor(Qt::blue));
        QCOMPARE(cell(0, true), QColor(Qt::white));
        QCOMPARE(cell(1, true), QColor(Qt::blue));
        // A click on the other cell shows it and moves the outline; the counts follow.
        QTest::mouseClick(&w.strip(), Qt::LeftButton, {}, w.strip().cellRect(1).center().toPoint());
        QCOMPARE(w.state().currentURL(), std::optional(f.url(u"b.jpg"_s)));
        QCOMPARE(cell(1, true), QColor(Qt::white));
        QCOMPARE(cell(0, true), QColor(Qt::red));
        QTRY_COMPARE(panel.loader().status(), HistogramLoader::Status::ready);
        QCOMPARE(panel.loader().data()->blue[255], quint32(64 * 48));

        // Chosen from one window's menu, shown by both.
        const auto corner = [](Shown &w) { return w.at(w.viewer(), {2, 200}); };
        const QList<QAction *> styles = w.commands().backgroundMenu()->actions();
        styles[3]->trigger();
        QCOMPARE(corner(w), QColor(Qt::white));
        QCOMPARE(corner(two), QColor(Qt::white));
        QVERIFY(two.commands().backgroundMenu()->actions()[3]->isChecked());
        // Checkerboard: dark top-left square, light beside it.
        styles[4]->trigger();
        QCOMPARE(two.at(two.viewer(), {5, 5}).rgb(), QColor::fromRgbF(0.82, 0.82, 0.82).rgb());
        QCOMPARE(two.at(two.viewer(), {15, 5}).rgb(), QColor::fromRgbF(0.96, 0.96, 0.96).rgb());
        // Blurred: the empty window stays black; the one showing b.jpg fades to dark blue, and
        // back to black for a file whose thumbnail fails (and which has no counts either).
        styles[5]->trigger();
        QCOMPARE(corner(two), QColor(Qt::black));
        QTRY_VERIFY(w.viewer().blurredBackground().isFading()); // made, fading in
        t.scheduler.advance(0.31);
        const QColor blue = corner(w);
        QVERIFY2(blue.blue() > 120 && blue.blue() < 160 && blue.red() == 0,
                 qPrintable(blue.name()));
        w.state().goToIndex(2);
        QTRY_VERIFY(!w.viewer().blurredBackground().hasThumbnail());
        t.scheduler.advance(0.31);
        QCOMPARE(corner(w), QColor(Qt::black));
        QTRY_COMPARE(panel.loader().status(), HistogramLoader::Status::failed);
        QVERIFY(panel.isVisible());
        press(w, Qt::Key_Escape);
        QVERIFY(!panel.isVisible() && panel.loader().status() == HistogramLoader::Status::idle);
        w.state().startSlideshow(); // no strip in a slideshow
        QVERIFY(!w.strip().isVisible());
    }

    void aLargeFolderAsksOnlyForThumbnailsInView()
    {
        TestServices t;
        t.images.setGated(true); // nothing finishes: what is asked for stays pending
        Settings(t.settings).setShowThumbnailBar(true);
        QStringList names;
        for (int i = 0; i < 3000; ++i)
            names << u"%1.jpg"_s.arg(i, 5, 10, QLatin1Char('0'));
        TestFolder f(names);
        Shown w(t.services, {600, 400});
        openAndList(w.state(), f, names[1500], 3000);
        ThumbnailBar &strip = w.strip();
        QTRY_VERIFY(strip.pending().contains(f.url(names[1500])));
        QVERIFY(strip.pending().size() < 40);
        QCOMPARE(strip.cellRect(1500).center().x(), strip.width() / 2.0);

        // Going far away scrolls there over 0.2 s, easing in and out; the cells on the way
        // are not asked for, and the old ones lose their interest.
        w.state().goToIndex(10);
        const double from = strip.scrollOffset();
        const double to = strip::centredOffset(10, 3000, strip.width());
        t.scheduler.advance(0.05);
        const double quarter = (strip.scrollOffset() - from) / (to - from);
        QVERIFY2(quarter > 0 && quarter < 0.25, qPrintable(QString::number(quarter)));
        t.scheduler.advance(0.2);
        QCOMPARE(strip.scrollOffset(), to);
        QTRY_VERIFY(strip.pending().contains(f.url(names[10])));
        QVERIFY(!strip.pending().contains(f.url(names[1500])));
        QVERIFY(!strip.pending().contains(f.url(names[750])));
    }

    void renamePromptSelectsTheNameAndRenames()
    {
        RealFileServices t;
        TestFolder f({u"a.jpg"_s, u"b.jpg"_s});
        Shown w(t.real);
        openAndList(w.state(), f, u"b.jpg"_s, 2);
        w.commands().rename()->trigger();
        auto *prompt = w.window->findChild<QDialog *>(u"renamePrompt"_s);
        QTRY_VERIFY(prompt && prompt->isVisible());
        auto *field = prompt->findChild<QLineEdit *>();
        QCOMPARE(field->selectedText(), u"b"_s);
        field->setText(u"holiday.jpg"_s);
        emit field->textEdited(field->text());
        button(prompt, u"Rename"_s)->click();
        QCOMPARE(w.window->windowTitle(), u"holiday.jpg [2/2]"_s);
        QVERIFY(QFile::exists(f.dir.filePath(u"holiday.jpg"_s)));
    }

    // Into the trash of the test's data folder; without one, the file operations refuse.
    void deleteKeysAskThenTrash()
    {
        // Delete cancelled, Delete, Backspace, and Delete on a volume without a trash.
        const std::tuple<Qt::Key, bool, bool> cases[]{{Qt::Key_Delete, false, true},
                                                      {Qt::Key_Delete, true, true},
                                                      {Qt::Key_Backspace, true, true},
                                                      {Qt::Key_Delete, true, false}};
        for (const auto &[key, confirm, trash] : cases) {
            RealFileServices real;
            TestServices refusing;
            TestFolder f({u"a.jpg"_s, u"b<u>.jpg"_s, u"c.jpg"_s});
            Shown w(trash ? real.real : refusing.services);
            openAndList(w.state(), f, u"b<u>.jpg"_s, 3);
            press(w, key);
            auto *box = w.window->findChild<QMessageBox *>(u"deleteConfirmation"_s);
            QVERIFY(isPlainAlert(box, u"Delete Image"_s,
                                 trash ? u"Move \"b<u>.jpg\" to the Trash?"_s
                                       : u"\"b<u>.jpg\" will be deleted permanently. This volume "
                                         "has no Trash."_s));
            button(box, confirm ? u"Delete"_s : u"Cancel"_s)->click();
            QVERIFY(!w.state().showDeleteConfirmation());
            const bool gone = confirm && trash;
            QCOMPARE(QFile::exists(f.dir.filePath(u"b<u>.jpg"_s)), !gone);
            QCOMPARE(QFile::exists(home->filePath(u"data/Trash/files/b<u>.jpg"_s)), gone);
            QCOMPARE(w.state().currentURL(),
                     std::optional(f.url(gone ? u"c.jpg"_s : u"b<u>.jpg"_s)));
            if (!trash)
                QTRY_COMPARE(w.viewer().errorAlert()->text(), u"Operation not permitted"_s);
            QDir(home->filePath(u"data/Trash"_s)).removeRecursively();
        }
    }

    void settingsControlsWriteTheSharedSettingsAndFollowThem()
    {
        MemorySettingsStore store;
        FakeDesktop desktop;
        SettingsWindow w(store, desktop);
        Settings settings(store);
        w.multiWindowToggle()->click();
        QCOMPARE(w.multiWindowCaption()->text(), u"Opened images reuse the existing window."_s);
        QVERIFY(!settings.isMultiWindowMode());
        emit w.backgroundPicker()->activated(4);
        QCOMPARE(settings.backgroundStyle(), BackgroundStyle::checkerboard);
        emit w.intervalPicker()->activated(3);
        QCOMPARE(settings.slideshowInterval(), 10.0);

        // Another window (or the Image menu) changes a setting: the controls follow.
        settings.setBackgroundStyle(BackgroundStyle::white);
        settings.setMultiWindowMode(true);
        settings.setSlideshowInterval(2);
        QCOMPARE(w.backgroundPicker()->currentText(), u"White"_s);
        QVERIFY(w.multiWindowToggle()->isChecked());
        QCOMPARE(w.multiWindowCaption()->text(), u"Every opened image gets a separate window."_s);
        QCOMPARE(w.intervalPicker()->currentText(), u"2 s"_s);
        // An interval the picker does not offer selects nothing rather than a wrong one.
        settings.setSlideshowInterval(7.5);
        QCOMPARE(w.intervalPicker()->currentIndex(), -1);
    }

    void useOrvaRoundTripThroughTheDesktop()
    {
        MemorySettingsStore store;
        GioDesktopServices gio;
        SettingsWindow w(store, gio);
        QCOMPARE(defaultAppText(w, u"PNG"_s), u"Second Painter"_s);
        QCOMPARE(defaultAppText(w, u"GIF"_s), u"No default app"_s); // nothing here opens GIFs
        useOrva(w, u"PNG"_s)->click();
        QVERIFY(!w.errorMessage());
        QTRY_VERIFY(!useOrva(w, u"PNG"_s));
        QVERIFY(w.fileTypeRow(u"PNG"_s)->findChild<QLabel *>(u"orvaIsDefault"_s));
        QCOMPARE(defaultAppText(w, u"PNG"_s), u"Orva"_s);
        QFile list(home->filePath(u"config/mimeapps.list"_s));
        QVERIFY(list.open(QIODevice::ReadOnly));
        QVERIFY(list.readAll().contains("image/png=orva.desktop"));
        QVERIFY(!useOrva(*std::make_unique<SettingsWindow>(store, gio), u"PNG"_s)); // asks again

        // A desktop that keeps no default applications refuses: the alert says why.
        FakeDesktop refusing;
        SettingsWindow r(store, refusing);
        useOrva(r, u"PNG"_s)->click();
        QMessageBox *alert = r.findChild<QMessageBox *>();
        QVERIFY(alert && r.errorMessage());
        QVERIFY(isPlainAlert(alert, u"Error"_s, *r.errorMessage()));
        alert->button(QMessageBox::Ok)->click();
        QVERIFY(!r.errorMessage());
    }
};

int main(int argc, char *argv[])
{
    QTemporaryDir folders; // before GIO reads anything
    home = &folders;
    setUpDesktop();
    QApplication app(argc, argv);
    QApplication::setAttribute(Qt::AA_Use96Dpi);
    QApplication::setDesktopFileName(u"orva"_s);
    TestViewerWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_viewerwindow.moc"
