// The histogram overlay and the navigator in a real viewer window: Tab and Escape, the
// menu toggle, counts following the shown file, and clicking and dragging on the map.
#include "core/histogram/Histogram.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"
#include "ui/HistogramView.h"
#include "ui/ImageViewer.h"
#include "ui/NavigatorOverlay.h"
#include "ui/ViewerCommands.h"
#include "ui/ViewerWindow.h"
#include "ui/ZoomableImageView.h"

#include <QtTest>

using namespace orva;
using namespace orva::test;

namespace {

struct Shown {
    explicit Shown(TestServices &t) : window(new ViewerWindow(t.services))
    {
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->resize(800, 600);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    ImageViewer &viewer() { return window->viewer(); }
    AppState &state() { return window->state(); }
    std::unique_ptr<ViewerWindow> window;
};

void press(QWidget &target, Qt::Key key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &event);
}

QImage filled(const QColor &colour)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

bool near(double a, double b) { return qAbs(a - b) < 0.02; }

} // namespace

class TestOverlays : public QObject {
    Q_OBJECT

private slots:
    void histogramFollowsTheShownFile()
    {
        TestServices t;
        TestFolder f({QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")});
        t.images.thumbnails.insert(QStringLiteral("a.jpg"), filled(Qt::red));
        t.images.thumbnails.insert(QStringLiteral("b.jpg"), filled(Qt::blue));
        t.images.failing.insert(QStringLiteral("c.jpg"));
        Shown w(t);
        w.state().open(f.url(QStringLiteral("a.jpg")));
        QTRY_COMPARE(w.state().imageFiles().size(), 3);
        HistogramView &panel = w.viewer().histogramView();
        QVERIFY(!panel.isVisible());

        // Tab twice: metadata, then the histogram, in the top-left corner.
        press(w.viewer(), Qt::Key_Tab);
        press(w.viewer(), Qt::Key_Tab);
        QCOMPARE(w.state().overlayMode(), OverlayMode::histogram);
        QVERIFY(panel.isVisible());
        QCOMPARE(panel.pos(), QPoint(HistogramView::inset, HistogramView::inset));
        QCOMPARE(panel.plotRect().size(), QSize(256, 120));
        QVERIFY(w.window->commands().histogram()->isChecked());
        QTRY_COMPARE(panel.loader().status(), HistogramLoader::Status::ready);
        QCOMPARE(panel.loader().data()->red[255], quint32(64 * 48));

        // The red spike at the right edge of the plot, green and blue ones at its left.
        const QImage shot = panel.grab().toImage();
        const QRect plot = panel.plotRect();
        const QColor right = shot.pixelColor(plot.right(), plot.top() + 10);
        QVERIFY2(right.red() > 60 && right.green() < 30 && right.blue() < 30,
                 qPrintable(right.name()));
        const QColor left = shot.pixelColor(plot.left(), plot.top() + 10);
        QVERIFY2(left.green() > 40 && left.blue() > 40, qPrintable(left.name()));

        // Stepping: the counts follow; a file without counts says so.
        w.state().navigate(+1);
        QTRY_COMPARE(panel.loader().status(), HistogramLoader::Status::ready);
        QCOMPARE(panel.loader().url(), std::optional(f.url(QStringLiteral("b.jpg"))));
        QCOMPARE(panel.loader().data()->blue[255], quint32(64 * 48));
        w.state().navigate(+1);
        QTRY_COMPARE(panel.loader().status(), HistogramLoader::Status::failed);
        QVERIFY(panel.isVisible());

        // Escape closes it; the menu toggle opens and closes it.
        press(w.viewer(), Qt::Key_Escape);
        QCOMPARE(w.state().overlayMode(), OverlayMode::none);
        QVERIFY(!panel.isVisible());
        QCOMPARE(panel.loader().status(), HistogramLoader::Status::idle);
        w.window->commands().histogram()->trigger();
        QCOMPARE(w.state().overlayMode(), OverlayMode::histogram);
        QVERIFY(panel.isVisible());
        w.window->commands().histogram()->trigger();
        QCOMPARE(w.state().overlayMode(), OverlayMode::none);
    }

    void navigatorMovesTheView()
    {
        TestServices t;
        t.images.fullSize = QSize(6000, 4000);
        TestFolder f({QStringLiteral("big.jpg")});
        Shown w(t);
        AppState &s = w.state();
        s.open(f.url(QStringLiteral("big.jpg")));
        QTRY_VERIFY(s.currentImage());
        NavigatorOverlay &nav = w.viewer().navigator();
        QTRY_COMPARE(s.visibleRect(), QRectF(0, 0, 1, 1));
        QVERIFY(!nav.isVisible()); // fitted: the whole image is on screen

        s.applyDisplayMode(DisplayMode::actualSize);
        QTRY_VERIFY(nav.isVisible());
        QCOMPARE(nav.mapSize(), QSizeF(150, 100));
        // 12 points from the corner of the visible image area, clear of scroll bars.
        const QRectF map = nav.mapRect().translated(nav.pos());
        const QWidget *viewport = w.viewer().imageView().viewport();
        const QPoint corner = viewport->mapTo(&w.viewer(), viewport->rect().bottomRight());
        QCOMPARE(map.right(), corner.x() + 1 - 12.0);
        QCOMPARE(map.bottom(), corner.y() + 1 - 12.0);

        // A click in the top-left quarter centres that point; the press counts as a drag.
        const QPointF quarter = nav.mapRect().topLeft() + QPointF(37.5, 25);
        QTest::mousePress(&nav, Qt::LeftButton, {}, quarter.toPoint());
        QVERIFY(s.isNavigatorDragging());
        QTRY_VERIFY(near(s.visibleRect().center().x(), 0.25) &&
                    near(s.visibleRect().center().y(), 0.75));

        // Dragging past the bottom-right corner of the map stops at the image's corner.
        QTest::mouseMove(&nav, (nav.mapRect().bottomRight() + QPointF(60, 60)).toPoint());
        QTRY_VERIFY(near(s.visibleRect().right(), 1.0) && near(s.visibleRect().y(), 0.0));
        QTest::mouseRelease(&nav, Qt::LeftButton, {},
                            (nav.mapRect().bottomRight() + QPointF(60, 60)).toPoint());
        QVERIFY(!s.isNavigatorDragging());

        // While a drag goes on the map stays, even with the whole image back in view.
        QTest::mousePress(&nav, Qt::LeftButton, {}, nav.mapRect().center().toPoint());
        s.applyDisplayMode(DisplayMode::fitToWindow);
        QTRY_COMPARE(s.visibleRect(), QRectF(0, 0, 1, 1));
        QVERIFY(nav.isVisible());
        QTest::mouseRelease(&nav, Qt::LeftButton, {}, nav.mapRect().center().toPoint());
        QVERIFY(!nav.isVisible());
    }
};

QTEST_MAIN(TestOverlays)
#include "tst_overlays.moc"
