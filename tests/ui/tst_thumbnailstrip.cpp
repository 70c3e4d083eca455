// The thumbnail strip and the backgrounds in real viewer windows: the menu toggle, the
// outline and clicks, lazy requests in a large folder, and one style for every window.
#include "core/settings/Settings.h"
#include "core/view/ThumbnailStrip.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"
#include "ui/ImageViewer.h"
#include "ui/ThumbnailBar.h"
#include "ui/ViewerBackground.h"
#include "ui/ViewerCommands.h"
#include "ui/ViewerWindow.h"

#include <QtTest>

using namespace orva;
using namespace orva::test;
using namespace Qt::Literals::StringLiterals;

namespace {

struct Shown {
    explicit Shown(TestServices &t) : window(new ViewerWindow(t.services))
    {
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->resize(600, 400);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    ImageViewer &viewer() { return window->viewer(); }
    AppState &state() { return window->state(); }
    ThumbnailBar &strip() { return window->viewer().thumbnailBar(); }
    QRgb at(QWidget &w, QPointF p) { return w.grab().toImage().pixel(p.toPoint()); }
    // The middle of a cell, and the middle of its top edge (where the outline runs).
    QRgb cellCentre(int i) { return at(strip(), strip().cellRect(i).center()); }
    QRgb cellTop(int i)
    {
        const QRectF r = strip().cellRect(i);
        return at(strip(), QPointF(r.center().x(), r.top()));
    }
    std::unique_ptr<ViewerWindow> window;
};

QImage filled(const QColor &colour)
{
    QImage image(80, 60, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

} // namespace

class TestThumbnailStrip : public QObject {
    Q_OBJECT

private slots:
    void toggleOutlineAndClick()
    {
        TestServices t;
        TestFolder f({u"a.jpg"_s, u"b.jpg"_s});
        t.images.thumbnails.insert(u"a.jpg"_s, filled(Qt::red));
        t.images.thumbnails.insert(u"b.jpg"_s, filled(Qt::blue));
        Shown w(t);
        openAndList(w.state(), f, u"a.jpg"_s, 2);
        QVERIFY(!w.strip().isVisible());

        // "Thumbnails" (Ctrl+T) shows it along the bottom, 60 points high.
        QAction *toggle = w.window->commands().thumbnails();
        QCOMPARE(toggle->shortcut(), QKeySequence(u"Ctrl+T"_s));
        toggle->trigger();
        QVERIFY(w.strip().isVisible() && toggle->isChecked());
        QVERIFY(Settings(t.settings).showThumbnailBar());
        const QRect content = w.viewer().rect();
        QCOMPARE(w.strip().geometry(), QRect(0, content.height() - 60, content.width(), 60));

        // Both thumbnails arrive; the current one is outlined in white, the other not.
        QTRY_COMPARE(w.cellCentre(0), QColor(Qt::red).rgb());
        QTRY_COMPARE(w.cellCentre(1), QColor(Qt::blue).rgb());
        QCOMPARE(w.cellTop(0), QColor(Qt::white).rgb());
        QCOMPARE(w.cellTop(1), QColor(Qt::blue).rgb());

        // A click on the other cell shows it and moves the outline.
        QTest::mouseClick(&w.strip(), Qt::LeftButton, {}, w.strip().cellRect(1).center().toPoint());
        QCOMPARE(w.state().currentURL(), std::optional(f.url(u"b.jpg"_s)));
        QCOMPARE(w.cellTop(1), QColor(Qt::white).rgb());
        QCOMPARE(w.cellTop(0), QColor(Qt::red).rgb());

        // Hidden again by the toggle, and during a slideshow.
        toggle->trigger();
        QVERIFY(!w.strip().isVisible());
        toggle->trigger();
        w.state().startSlideshow();
        QVERIFY(!w.strip().isVisible());
    }

    void aLargeFolderAsksOnlyForWhatIsInView()
    {
        TestServices t;
        t.images.setGated(true); // nothing finishes: what is asked for stays pending
        Settings(t.settings).setShowThumbnailBar(true);
        QStringList names;
        for (int i = 0; i < 3000; ++i)
            names << u"%1.jpg"_s.arg(i, 5, 10, QLatin1Char('0'));
        TestFolder f(names);
        Shown w(t);
        openAndList(w.state(), f, names[1500], 3000);
        QTRY_VERIFY(w.strip().pending().contains(f.url(names[1500])));
        QVERIFY(w.strip().pending().size() < 40);
        QCOMPARE(w.strip().cellRect(1500).center().x(), w.strip().width() / 2.0);

        // Going far away scrolls there over 0.2 s, easing in and out; the cells on the way
        // are not asked for, and the old ones lose their interest.
        w.state().goToIndex(10);
        const double from = w.strip().scrollOffset();
        const double to = strip::centredOffset(10, 3000, w.strip().width());
        t.scheduler.advance(0.05);
        const double quarter = (w.strip().scrollOffset() - from) / (to - from);
        QVERIFY2(quarter > 0 && quarter < 0.25, qPrintable(QString::number(quarter)));
        t.scheduler.advance(0.2);
        QVERIFY(!w.strip().isScrolling());
        QCOMPARE(w.strip().scrollOffset(), to);
        QTRY_VERIFY(w.strip().pending().contains(f.url(names[10])));
        QVERIFY(!w.strip().pending().contains(f.url(names[1500])));
        QVERIFY(!w.strip().pending().contains(f.url(names[750])));
    }

    void oneStyleForEveryWindow()
    {
        TestServices t;
        TestFolder f({u"a.jpg"_s, u"b.jpg"_s});
        t.images.thumbnails.insert(u"a.jpg"_s, filled(Qt::red));
        t.images.failing.insert(u"b.jpg"_s);
        Shown one(t), two(t);
        openAndList(one.state(), f, u"a.jpg"_s, 2);
        const QPoint corner(2, 200);
        auto colourAt = [&](Shown &w) { return QColor(w.at(w.viewer(), corner)); };

        // Chosen from one window's menu, shown by both.
        QMenu *picker = one.window->commands().backgroundMenu();
        QCOMPARE(picker->actions().size(), 6);
        picker->actions()[3]->trigger();
        QCOMPARE(colourAt(one), QColor(Qt::white));
        QCOMPARE(colourAt(two), QColor(Qt::white));
        QVERIFY(two.window->commands().backgroundMenu()->actions()[3]->isChecked());

        // Checkerboard: dark top-left square, light beside it.
        picker->actions()[4]->trigger();
        const QImage board = two.viewer().grab().toImage();
        QCOMPARE(board.pixel(5, 5), QColor::fromRgbF(0.82, 0.82, 0.82).rgb());
        QCOMPARE(board.pixel(15, 5), QColor::fromRgbF(0.96, 0.96, 0.96).rgb());

        // Blurred: the empty window stays black; the one showing a.jpg fades to dark red.
        picker->actions()[5]->trigger();
        QCOMPARE(colourAt(two), QColor(Qt::black));
        QTRY_VERIFY(one.viewer().blurredBackground().isFading()); // made, fading in
        t.scheduler.advance(0.31);
        const QColor red = colourAt(one);
        QVERIFY2(red.red() > 120 && red.red() < 160 && red.green() == 0, qPrintable(red.name()));

        // A file whose thumbnail fails fades back to black.
        one.state().goToIndex(1);
        QTRY_VERIFY(!one.viewer().blurredBackground().hasThumbnail());
        t.scheduler.advance(0.31);
        QCOMPARE(colourAt(one), QColor(Qt::black));
    }
};

QTEST_MAIN(TestThumbnailStrip)
#include "tst_thumbnailstrip.moc"
