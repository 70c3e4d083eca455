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
#include "ui/ViewerCommands.h"
#include "ui/ViewerWindow.h"

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

QString defaultAppText(SettingsWindow &w, const QString &formatName)
{
    // Application names come from desktop entries: shown as plain text only.
    const auto *label = w.fileTypeRow(formatName)->findChild<QLabel *>(u"defaultApp"_s);
    return label && label->textFormat() == Qt::PlainText ? label->text() : QString();
}

// Whether the row has a "Use Orva" button (none while Orva opens the type), clicked unless not
// asked to.
bool useOrva(SettingsWindow &w, const QString &formatName, bool click = true)
{
    auto *b = w.fileTypeRow(formatName)->findChild<QPushButton *>(u"useOrva"_s);
    return b && (!click || QMetaObject::invokeMethod(b, &QPushButton::click));
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
    void keysMenusMapAndStatusBarFollowTheState()
    {
        TestServices t;
        TestFolder f({u"a.jpg"_s, u"b[*].jpg"_s, u"c.jpg"_s, u"d.jpg"_s});
        t.images.failing.insert(u"d.jpg"_s);
        Shown w(t.services);
        ViewerCommands &c = w.commands();
        openAndList(w.state(), f, u"b[*].jpg"_s, 4);
        // "[*]" is Qt's placeholder for the modified mark; the title must keep it.
        QCOMPARE(w.window->windowHandle()->title(), u"b[*].jpg [2/4]"_s);
        QTRY_VERIFY(w.state().currentImage() && !w.state().zoomAction());
        StatusPill &bar = w.viewer().statusBar();
        QVERIFY(bar.isVisible() && bar.isShown()); // the new file revealed it
        // A display-mode toggle re-issues its zoom even when it is the current mode.
        c.fitToWindow()->trigger();
        QVERIFY(w.state().zoomAction() == ZoomAction::fit && c.fitToWindow()->isChecked());
        QTRY_VERIFY(!w.state().zoomAction());
        c.actualSize()->trigger();
        QTRY_VERIFY(c.actualSize()->isChecked() && !c.fitToWindow()->isChecked());
        // On the map a press in the top-left quarter centres that point and counts as a drag;
        // dragging past its bottom-right corner stops at the image's corner.
        NavigatorOverlay &nav = w.viewer().navigator();
        QTRY_VERIFY(nav.isVisible());
        const QRectF map = nav.mapRect();
        const auto seen = [&w] { return w.state().visibleRect(); };
        QTest::mousePress(&nav, Qt::LeftButton, {}, ((map.topLeft() + map.center()) / 2).toPoint());
        QVERIFY(w.state().isNavigatorDragging());
        QTRY_VERIFY(near(seen().center().x(), 0.25) && near(seen().center().y(), 0.75));
        const QPoint past = (map.bottomRight() + QPointF(60, 60)).toPoint();
        QTest::mouseMove(&nav, past);
        QTRY_VERIFY(near(seen().right(), 1.0) && near(seen().y(), 0.0));
        QTest::mouseRelease(&nav, Qt::LeftButton, {}, past);
        QVERIFY(!w.state().isNavigatorDragging());
        // Every zoom change shows the new percentage for a moment.
        for (const auto &[key, direction] : {std::pair{Qt::Key_Plus, 1}, {Qt::Key_Minus, -1}}) {
            t.scheduler.advance(2.1);
            QVERIFY(!bar.isShown());
            const double before = w.state().magnification();
            QVERIFY(press(w, key));
            QTRY_VERIFY(!w.state().zoomAction());
            QVERIFY((w.state().magnification() - before) * direction > 0 && bar.isShown());
            QCOMPARE(bar.content().zoom, u"%1%"_s.arg(int(w.state().magnification() * 100 + 1e-9)));
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
        QVERIFY(bar.isShown()); // every file change shows the bar
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
    }

    // Text from files and the system is shown as plain text, never as markup.
    void errorAlertAndMetadataShowTextAsStored()
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

        const QString markup = u"<b>BIG</b><font color=red size=7>RED</font><img src=\"/x.png\">"_s;
        MetadataPanel panel;
        panel.setEntries({{u"Model"_s, markup}, {u"Camera"_s, u"A & B <Co>"_s}});
        const QList<QLabel *> labels = panel.findChildren<QLabel *>();
        QVERIFY(
            std::ranges::all_of(labels, [](auto *l) { return l->textFormat() == Qt::PlainText; }));
        QCOMPARE(std::ranges::count_if(labels, [&](auto *l) { return l->text() == markup; }), 1);
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

    // The strip with the current cell outlined, the histogram, and one background style for
    // every window, all following the shown file.
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
        QTRY_COMPARE(panel.loader().status(), HistogramLoader::Status::ready);
        QCOMPARE(panel.loader().data()->red[255], quint32(64 * 48));
        // The red spike is drawn at the right edge of the plot.
        const QColor right = w.at(panel, panel.plotRect().topRight() + QPoint(0, 10));
        QVERIFY2(right.red() > 60 && right.green() < 30 && right.blue() < 30,
                 qPrintable(right.name()));

        QVERIFY(!w.strip().isVisible());
        w.commands().thumbnails()->trigger(); // shown and remembered
        QVERIFY(w.strip().isVisible() && Settings(t.settings).showThumbnailBar());
        // The current cell is outlined in white (the middle of its top edge), the other not.
        const auto cell = [&w](int i, bool top) {
            const QRectF r = w.strip().cellRect(i);
            return w.at(w.strip(), QPointF(r.center().x(), top ? r.top() : r.center().y()));
        };
        QTRY_COMPARE(cell(1, false), QColor(Qt::blue));
        QCOMPARE(cell(0, true), QColor(Qt::white));
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
        // A file whose thumbnail fails has no counts.
        w.state().goToIndex(2);
        QTRY_COMPARE(panel.loader().status(), HistogramLoader::Status::failed);
        QVERIFY(panel.isVisible());
        press(w, Qt::Key_Escape);
        QVERIFY(!panel.isVisible() && panel.loader().status() == HistogramLoader::Status::idle);
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

        // Going far away scrolls there over 0.2 s. Meanwhile the cells where it stops are asked
        // for, not those it passes, and the old ones lose their interest.
        w.state().goToIndex(10);
        t.scheduler.advance(0.05);
        QTRY_VERIFY(strip.pending().contains(f.url(names[10])));
        QVERIFY(!strip.pending().contains(f.url(names[1500])));
        t.scheduler.advance(0.2);
        QCOMPARE(strip.scrollOffset(), strip::centredOffset(10, 3000, strip.width()));
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
            for (QAbstractButton *b : box->buttons())
                if (b->text() == (confirm ? u"Delete"_s : u"Cancel"_s))
                    b->click();
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

    void settingsWindowWritesSettingsAndDefaultApps()
    {
        MemorySettingsStore store;
        GioDesktopServices gio;
        SettingsWindow w(store, gio);
        QCOMPARE(defaultAppText(w, u"PNG"_s), u"Second Painter"_s);
        QVERIFY(useOrva(w, u"PNG"_s) && !w.errorMessage());
        QTRY_VERIFY(!useOrva(w, u"PNG"_s, false));
        QCOMPARE(defaultAppText(w, u"PNG"_s), u"Orva"_s);
        QFile list(home->filePath(u"config/mimeapps.list"_s));
        QVERIFY(list.open(QIODevice::ReadOnly));
        QVERIFY(list.readAll().contains("image/png=orva.desktop"));
        QVERIFY(
            !useOrva(*std::make_unique<SettingsWindow>(store, gio), u"PNG"_s, false)); // asks again

        // A desktop that keeps no default applications refuses: the alert says why.
        FakeDesktop refusing;
        SettingsWindow r(store, refusing);
        QVERIFY(useOrva(r, u"PNG"_s));
        QMessageBox *alert = r.findChild<QMessageBox *>();
        QVERIFY(r.errorMessage() && isPlainAlert(alert, u"Error"_s, *r.errorMessage()));
        alert->button(QMessageBox::Ok)->click();
        QVERIFY(!r.errorMessage());

        // The controls write the shared settings, and follow changes made elsewhere (another
        // window, the Image menu).
        Settings settings(store);
        r.multiWindowToggle()->click();
        QVERIFY(!settings.isMultiWindowMode());
        emit r.backgroundPicker()->activated(4);
        QCOMPARE(settings.backgroundStyle(), BackgroundStyle::checkerboard);
        emit r.intervalPicker()->activated(3);
        QCOMPARE(settings.slideshowInterval(), 10.0);
        settings.setBackgroundStyle(BackgroundStyle::white);
        settings.setMultiWindowMode(true);
        settings.setSlideshowInterval(2);
        QCOMPARE(r.backgroundPicker()->currentText(), u"White"_s);
        QVERIFY(r.multiWindowToggle()->isChecked());
        QCOMPARE(r.intervalPicker()->currentText(), u"2 s"_s);
        // An interval the picker does not offer selects nothing rather than a wrong one.
        settings.setSlideshowInterval(7.5);
        QCOMPARE(r.intervalPicker()->currentIndex(), -1);
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
