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
    std::unique_ptr<ViewerWindow> window;
};

QImage filled(const QColor &colour)
{
    QImage image(80, 60, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QRgb centreOf(QWidget &w, const QRectF &r)
{
    return w.grab().toImage().pixel(r.center().toPoint());
}

QStringList numbered(int n)
{
    QStringList names;
    for (int i = 0; i < n; ++i)
        names << QStringLiteral("%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
    return names;
}

} // namespace

class TestThumbnailStrip : public QObject {
    Q_OBJECT

private slots:
    void toggleOutlineAndClick()
    {
        TestServices t;
        TestFolder f({QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
        t.images.thumbnails.insert(QStringLiteral("a.jpg"), filled(Qt::red));
        t.images.thumbnails.insert(QStringLiteral("b.jpg"), filled(Qt::blue));
        Shown w(t);
        openAndList(w.state(), f, QStringLiteral("a.jpg"), 2);
        QVERIFY(!w.strip().isVisible());

        // "Thumbnails" (Ctrl+T) shows it along the bottom, 60 points high, and the setting
        // is kept.
        QAction *toggle = w.window->commands().thumbnails();
        QCOMPARE(toggle->text(), QStringLiteral("Thumbnails"));
        QCOMPARE(toggle->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
        toggle->trigger();
        QVERIFY(w.strip().isVisible());
        QVERIFY(toggle->isChecked());
        QVERIFY(Settings(t.settings).showThumbnailBar());
        QCOMPARE(w.strip().geometry(), QRect(0, 400 - 60, 600, 60));

        // Both thumbnails arrive; the current one is outlined in white, the other not.
        QTRY_COMPARE(centreOf(w.strip(), w.strip().cellRect(0)), QColor(Qt::red).rgb());
        QTRY_COMPARE(centreOf(w.strip(), w.strip().cellRect(1)), QColor(Qt::blue).rgb());
        auto outline = [&](int i) {
            const QRectF r = w.strip().cellRect(i);
            return w.strip().grab().toImage().pixel(QPoint(int(r.center().x()), int(r.top())));
        };
        QCOMPARE(outline(0), QColor(Qt::white).rgb());
        QCOMPARE(outline(1), QColor(Qt::blue).rgb());

        // A click on the other cell shows it and moves the outline.
        QTest::mouseClick(&w.strip(), Qt::LeftButton, {}, w.strip().cellRect(1).center().toPoint());
        QCOMPARE(w.state().currentURL(), std::optional(f.url(QStringLiteral("b.jpg"))));
        QCOMPARE(outline(1), QColor(Qt::white).rgb());
        QCOMPARE(outline(0), QColor(Qt::red).rgb());

        // Hidden again by the toggle, and during a slideshow.
        toggle->trigger();
        QVERIFY(!w.strip().isVisible());
        toggle->trigger();
        w.state().startSlideshow();
        QVERIFY(!w.strip().isVisible());
        w.state().stopSlideshow();
        QVERIFY(w.strip().isVisible());
    }

    void aLargeFolderAsksOnlyForWhatIsInView()
    {
        TestServices t;
        t.images.setGated(true); // nothing finishes: what is asked for stays pending
        Settings(t.settings).setShowThumbnailBar(true);
        const QStringList names = numbered(3000);
        TestFolder f(names);
        Shown w(t);
        openAndList(w.state(), f, names[1500], 3000);
        w.state().goToIndex(1500);
        QTRY_VERIFY(!w.strip().isScrolling());
        QTRY_VERIFY(!w.strip().pending().isEmpty());
        const int asked = int(w.strip().pending().size());
        QVERIFY2(asked < 40, qPrintable(QString::number(asked)));
        QVERIFY(w.strip().pending().contains(f.url(names[1500])));
        // The current cell is centred.
        QCOMPARE(w.strip().cellRect(1500).center().x(), 300.0);

        // Moving far away drops the interest in the old cells.
        w.state().goToIndex(10);
        QTRY_VERIFY(!w.strip().isScrolling());
        QTRY_VERIFY(w.strip().pending().contains(f.url(names[10])));
        QVERIFY(!w.strip().pending().contains(f.url(names[1500])));
        t.images.setGated(false);
    }

    void oneStyleForEveryWindow()
    {
        TestServices t;
        TestFolder f({QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
        t.images.thumbnails.insert(QStringLiteral("a.jpg"), filled(Qt::red));
        t.images.failing.insert(QStringLiteral("b.jpg"));
        Shown one(t), two(t);
        openAndList(one.state(), f, QStringLiteral("a.jpg"), 2);
        const QPoint corner(2, 200);
        auto at = [&](Shown &w) { return QColor(w.viewer().grab().toImage().pixel(corner)); };
        QCOMPARE(at(two), QColor(Qt::black));

        // Chosen from one window's menu, shown by both.
        QMenu *picker = one.window->commands().backgroundMenu();
        QCOMPARE(picker->title(), QStringLiteral("Background"));
        QStringList labels;
        for (QAction *a : picker->actions())
            labels << a->text();
        QCOMPARE(labels, (QStringList{u"Black"_s, u"Dark Gray"_s, u"Light Gray"_s, u"White"_s,
                                      u"Checkerboard"_s, u"Blurred Image"_s}));
        picker->actions()[3]->trigger();
        QCOMPARE(Settings(t.settings).backgroundStyle(), BackgroundStyle::white);
        QCOMPARE(at(one), QColor(Qt::white));
        QCOMPARE(at(two), QColor(Qt::white));
        QVERIFY(two.window->commands().backgroundMenu()->actions()[3]->isChecked());

        // Checkerboard: dark top-left square, light beside it.
        picker->actions()[4]->trigger();
        const QImage board = two.viewer().grab().toImage();
        QCOMPARE(board.pixel(5, 5), QColor::fromRgbF(0.82, 0.82, 0.82).rgb());
        QCOMPARE(board.pixel(15, 5), QColor::fromRgbF(0.96, 0.96, 0.96).rgb());

        // Blurred: the empty window stays black; the one showing a.jpg turns dark red.
        picker->actions()[5]->trigger();
        QCOMPARE(at(two), QColor(Qt::black));
        QTRY_VERIFY(one.viewer().blurredBackground().hasThumbnail());
        QTRY_VERIFY(!one.viewer().blurredBackground().isFading());
        const QColor red = at(one);
        QVERIFY2(red.red() > 120 && red.red() < 160 && red.green() == 0, qPrintable(red.name()));

        // A file whose thumbnail fails fades back to black.
        one.state().goToIndex(1);
        QTRY_VERIFY(!one.viewer().blurredBackground().hasThumbnail());
        QTRY_VERIFY(!one.viewer().blurredBackground().isFading());
        QCOMPARE(at(one), QColor(Qt::black));
    }
};

QTEST_MAIN(TestThumbnailStrip)
#include "tst_thumbnailstrip.moc"
