#include "core/state/AppState.h"
#include "support/TestServices.h"
#include "ui/ZoomableImageView.h"

#include <QNativeGestureEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtTest>

#include <cmath>

using namespace orva;

Q_DECLARE_METATYPE(orva::ZoomAction)
Q_DECLARE_METATYPE(orva::DisplayMode)

namespace {

const QColor sentinel(255, 0, 255); // what the view leaves unpainted

DecodedImage still(const QImage &bitmap, QSizeF points = {})
{
    auto image = std::make_shared<DisplayImage>();
    image->pointSize = points.isEmpty() ? QSizeF(bitmap.size()) : points;
    image->frames.push_back({bitmap, 0});
    return DecodedImage{image, bitmap, image, bitmap.width() / image->pointSize.width()};
}

// Left half red, right half blue, so a rendering shows which part of the image is where.
QImage halves(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter p(&image);
    p.fillRect(QRect(size.width() / 2, 0, size.width() - size.width() / 2, size.height()),
               Qt::blue);
    return image;
}

DecodedImage still(QSize size) { return still(halves(size)); }

const QList<QColor> frameColours{Qt::red, Qt::green, Qt::blue};

DecodedImage animation(const QList<int> &delaysMs, int loopCount)
{
    auto image = std::make_shared<DisplayImage>();
    image->pointSize = QSizeF(100, 100);
    image->loopCount = loopCount;
    for (qsizetype i = 0; i < delaysMs.size(); ++i) {
        QImage f(100, 100, QImage::Format_RGB32);
        f.fill(frameColours[i % frameColours.size()]);
        image->frames.push_back({f, delaysMs[i]});
    }
    return DecodedImage{image, std::nullopt, image, 1.0};
}

bool near(double a, double b) { return std::abs(a - b) < 1e-6; }
bool near(QPointF a, QPointF b) { return near(a.x(), b.x()) && near(a.y(), b.y()); }
bool near(const QRectF &a, const QRectF &b)
{
    return near(a.topLeft(), b.topLeft()) && near(a.width(), b.width()) &&
           near(a.height(), b.height());
}

QByteArray text(const QRectF &r)
{
    return QStringLiteral("(%1, %2, %3 x %4)")
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height())
        .toUtf8();
}

QByteArray text(QPointF p) { return QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y()).toUtf8(); }

// Runs what the view deferred to the next turn of the event loop.
void nextTurn() { QCoreApplication::processEvents(); }

void sendWheel(QWidget *viewport, QPoint pixelDelta, QPoint angleDelta,
               Qt::ScrollPhase phase = Qt::NoScrollPhase, bool inverted = false,
               QPointF pos = QPointF(400, 300))
{
    QWheelEvent e(pos, viewport->mapToGlobal(pos), pixelDelta, angleDelta, Qt::NoButton,
                  Qt::NoModifier, phase, inverted);
    QCoreApplication::sendEvent(viewport, &e);
}

// One two-finger swipe as a trackpad reports it: begin and end carry no distance.
void swipe(QWidget *viewport, const QList<int> &dxs, bool inverted)
{
    sendWheel(viewport, {}, {}, Qt::ScrollBegin, inverted);
    for (const int dx : dxs)
        sendWheel(viewport, {dx, 0}, {dx * 8, 0}, Qt::ScrollUpdate, inverted);
    sendWheel(viewport, {}, {}, Qt::ScrollEnd, inverted);
}

void pinch(QWidget *viewport, Qt::NativeGestureType type, double value, QPointF pos)
{
    QNativeGestureEvent e(type, QPointingDevice::primaryPointingDevice(), 2, pos, pos,
                          viewport->mapToGlobal(pos), value, QPointF());
    QCoreApplication::sendEvent(viewport, &e);
}

// The document point under a viewport position.
QPointF underPointer(const ZoomableImageView &view, QPointF pos)
{
    return view.clipBounds().topLeft() + pos / view.magnification();
}

// A top-level view whose viewport is exactly the window, over a state on fakes.
struct Viewer {
    test::TestServices t;
    AppState s{t.services};
    ZoomableImageView view{s};
    QList<QUrl> files{QUrl::fromLocalFile(QStringLiteral("/p/a.jpg")),
                      QUrl::fromLocalFile(QStringLiteral("/p/b.jpg")),
                      QUrl::fromLocalFile(QStringLiteral("/p/c.jpg"))};

    Viewer()
    {
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    // Loads started by navigation end before the fake services go away.
    ~Viewer() { t.tasks.waitForDone(); }

    [[nodiscard]] bool show(QSize viewport = {800, 600})
    {
        view.resize(viewport);
        view.show();
        return QTest::qWaitForWindowExposed(&view) && view.viewport()->size() == viewport;
    }

    void showImage(const DecodedImage &image)
    {
        s.setCurrentImage(image);
        nextTurn();
    }

    void request(ZoomAction action)
    {
        s.setZoomAction(action);
        nextTurn();
    }

    // A folder of three files with the first one shown, for navigation.
    void listFolder()
    {
        s.setImageFiles(files);
        s.setCurrentIndex(0);
        s.setCurrentURL(files[0]);
    }

    QImage render()
    {
        QImage out(view.viewport()->size(), QImage::Format_RGB32);
        out.fill(sentinel);
        view.viewport()->render(&out, QPoint(), QRegion(), QWidget::DrawChildren);
        return out;
    }
};

} // namespace

class TestZoomableImageView : public QObject {
    Q_OBJECT

private slots:
    // A 1000x500 image in an 800x600 viewport fits at 0.8.
    void zoomRequests_data()
    {
        QTest::addColumn<QList<ZoomAction>>("actions");
        QTest::addColumn<double>("magnification");
        QTest::addColumn<bool>("fitMode");
        QTest::addColumn<QRectF>("visible"); // fractions, bottom-left origin
        using Z = ZoomAction;
        QTest::newRow("shown fitted") << QList<Z>{} << 0.8 << true << QRectF(0, 0, 1, 1);
        QTest::newRow("zoom in") << QList{Z::zoomIn} << 1.2 << false
                                 << QRectF(1 / 6.0, 0, 2 / 3.0, 1);
        QTest::newRow("zoom in twice") << QList{Z::zoomIn, Z::zoomIn} << 1.8 << false
                                       << QRectF(5 / 18.0, 1 / 6.0, 4 / 9.0, 2 / 3.0);
        QTest::newRow("fit again")
            << QList{Z::zoomIn, Z::zoomIn, Z::fit} << 0.8 << true << QRectF(0, 0, 1, 1);
        QTest::newRow("zoom out at fit") << QList{Z::zoomOut} << 0.8 << false << QRectF(0, 0, 1, 1);
        QTest::newRow("actual size")
            << QList{Z::zoomIn, Z::actualSize} << 1.0 << false << QRectF(0.1, 0, 0.8, 1);
        QTest::newRow("zoom in stops at 20")
            << QList{Z::actualSize, Z::zoomIn, Z::zoomIn, Z::zoomIn, Z::zoomIn,
                     Z::zoomIn,     Z::zoomIn, Z::zoomIn, Z::zoomIn, Z::zoomIn}
            << 20.0 << false << QRectF(0.48, 0.47, 0.04, 0.06);
    }
    void zoomRequests()
    {
        QFETCH(QList<ZoomAction>, actions);
        QFETCH(double, magnification);
        QFETCH(bool, fitMode);
        QFETCH(QRectF, visible);
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still({1000, 500}));
        for (const ZoomAction a : actions) {
            v.s.setZoomAction(a);
            nextTurn();
            QCOMPARE(v.s.zoomAction(), std::nullopt); // consumed
        }
        QCOMPARE(v.view.magnification(), magnification);
        QCOMPARE(v.view.isFitMode(), fitMode);
        QCOMPARE(v.s.magnification(), magnification);
        QVERIFY2(near(v.s.visibleRect(), visible), text(v.s.visibleRect()));
    }

    void resizeRefitsOnlyInFitMode_data()
    {
        QTest::addColumn<QList<ZoomAction>>("actions");
        QTest::addColumn<double>("magnification");
        using Z = ZoomAction;
        QTest::newRow("fit mode") << QList<Z>{} << 0.9;
        QTest::newRow("fit after zooming") << QList{Z::zoomIn, Z::fit} << 0.9;
        QTest::newRow("zoomed out at the fit") << QList{Z::zoomOut} << 0.8;
        QTest::newRow("zoomed in") << QList{Z::zoomIn} << 1.2;
    }
    void resizeRefitsOnlyInFitMode()
    {
        QFETCH(QList<ZoomAction>, actions);
        QFETCH(double, magnification);
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still({1000, 500}));
        for (const ZoomAction a : actions)
            v.request(a);
        v.view.resize(900, 700);
        QTRY_COMPARE(v.view.viewport()->size(), QSize(900, 700));
        QCOMPARE(v.view.magnification(), magnification);
        QCOMPARE(v.s.magnification(), magnification);
    }

    // A request notified again before the view has consumed it is not applied twice.
    void repeatedRequestIsAppliedOnce()
    {
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still({1000, 500}));
        v.s.setZoomAction(ZoomAction::zoomIn);
        v.s.setZoomAction(ZoomAction::zoomIn);
        emit v.s.zoomActionChanged();
        nextTurn();
        QCOMPARE(v.view.magnification(), 1.2);
        QCOMPARE(v.s.zoomAction(), std::nullopt);
        v.request(ZoomAction::zoomIn); // a new request once the old one is gone
        QCOMPARE(v.view.magnification(), 1.8);
    }

    void pinchZoomsUnderTheFingers()
    {
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still({1000, 500}));
        QWidget *vp = v.view.viewport();
        const QPointF at(200, 300);
        pinch(vp, Qt::BeginNativeGesture, 0, at);
        QVERIFY(!v.view.isFitMode());
        const QPointF before = underPointer(v.view, at);
        pinch(vp, Qt::ZoomNativeGesture, 0.5, at);
        QCOMPARE(v.view.magnification(), 1.2);
        QVERIFY2(near(underPointer(v.view, at), before), text(underPointer(v.view, at)));
        pinch(vp, Qt::ZoomNativeGesture, 11.5, at);
        pinch(vp, Qt::EndNativeGesture, 0, at);
        QCOMPARE(v.view.magnification(), 15.0);
        QCOMPARE(v.s.magnification(), 15.0);
        v.request(ZoomAction::zoomIn);
        QCOMPARE(v.view.magnification(), 20.0);
        v.request(ZoomAction::actualSize);
        QCOMPARE(v.view.magnification(), 1.0);
        QCOMPARE(v.s.magnification(), 1.0);
    }

    // Opening into an empty window requests the display mode's zoom before the image
    // arrives; the image must still come up around its middle.
    void requestBeforeTheFirstImageCentresIt_data()
    {
        QTest::addColumn<ZoomAction>("action");
        QTest::addColumn<bool>("afterImage"); // request in the same turn, after the image
        QTest::addColumn<double>("magnification");
        QTest::addColumn<QRectF>("clip");
        QTest::newRow("actual size first")
            << ZoomAction::actualSize << false << 1.0 << QRectF(600, 200, 800, 600);
        QTest::newRow("actual size same turn")
            << ZoomAction::actualSize << true << 1.0 << QRectF(600, 200, 800, 600);
        QTest::newRow("fit first")
            << ZoomAction::fit << false << 0.4 << QRectF(0, -250, 2000, 1500);
        QTest::newRow("zoom in same turn")
            << ZoomAction::zoomIn << true << 0.6 << QRectF(1000 - 400 / 0.6, 0, 800 / 0.6, 1000);
    }
    void requestBeforeTheFirstImageCentresIt()
    {
        QFETCH(ZoomAction, action);
        QFETCH(bool, afterImage);
        QFETCH(double, magnification);
        QFETCH(QRectF, clip);
        Viewer v;
        QVERIFY(v.show());
        if (!afterImage)
            v.request(action);
        v.s.setCurrentImage(still({2000, 1000}));
        if (afterImage)
            v.s.setZoomAction(action);
        nextTurn();
        QCOMPARE(v.view.magnification(), magnification);
        QVERIFY2(near(v.view.clipBounds(), clip), text(v.view.clipBounds()));
    }

    void scrollTargetCentresThePointAndIsConsumed_data()
    {
        QTest::addColumn<QPointF>("target"); // fractions, bottom-left origin
        QTest::addColumn<QRectF>("clip");    // document points, top-left origin
        QTest::addColumn<QRectF>("visible"); // fractions, bottom-left origin
        QTest::newRow("top left") << QPointF(0, 1) << QRectF(0, 0, 800, 600)
                                  << QRectF(0, 0.6, 0.4, 0.4);
        QTest::newRow("bottom right")
            << QPointF(1, 0) << QRectF(1200, 900, 800, 600) << QRectF(0.6, 0, 0.4, 0.4);
        QTest::newRow("off centre")
            << QPointF(0.5, 0.6) << QRectF(600, 300, 800, 600) << QRectF(0.3, 0.4, 0.4, 0.4);
    }
    void scrollTargetCentresThePointAndIsConsumed()
    {
        QFETCH(QPointF, target);
        QFETCH(QRectF, clip);
        QFETCH(QRectF, visible);
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still({2000, 1500}));
        v.request(ZoomAction::actualSize);
        v.s.setScrollTarget(target);
        nextTurn();
        QCOMPARE(v.s.scrollTarget(), std::nullopt);
        QVERIFY2(near(v.view.clipBounds(), clip), text(v.view.clipBounds()));
        QVERIFY2(near(v.s.visibleRect(), visible), text(v.s.visibleRect()));
        QCOMPARE(v.view.horizontalScrollBar()->value(), int(clip.x()));
        QCOMPARE(v.view.verticalScrollBar()->value(), int(clip.y()));
    }

    void scrollBarsMoveTheView()
    {
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still({2000, 1500}));
        v.request(ZoomAction::actualSize);
        v.view.horizontalScrollBar()->setValue(100);
        v.view.verticalScrollBar()->setValue(900);
        QVERIFY2(near(v.view.clipBounds(), QRectF(100, 900, 800, 600)), text(v.view.clipBounds()));
        QVERIFY2(near(v.s.visibleRect(), QRectF(0.05, 0, 0.4, 0.4)), text(v.s.visibleRect()));
    }

    // Wheel zoom about the document point under the pointer, from actual size.
    void wheelZoomsUnderThePointer_data()
    {
        QTest::addColumn<QPoint>("pixelDelta");
        QTest::addColumn<QPoint>("angleDelta");
        QTest::addColumn<double>("magnification");
        QTest::newRow("notch in") << QPoint() << QPoint(0, 120) << 1.1;
        QTest::newRow("notch out") << QPoint() << QPoint(0, -120) << 0.9;
        QTest::newRow("two notches") << QPoint() << QPoint(0, 240) << 1.2;
        QTest::newRow("ten trackpad points") << QPoint(0, 10) << QPoint(0, 80) << 1.05;
        QTest::newRow("ten trackpad points out") << QPoint(0, -10) << QPoint(0, -80) << 0.95;
    }
    void wheelZoomsUnderThePointer()
    {
        QFETCH(QPoint, pixelDelta);
        QFETCH(QPoint, angleDelta);
        QFETCH(double, magnification);
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still({2000, 1500}));
        v.request(ZoomAction::actualSize);
        const QPointF at(200, 150);
        const QPointF before = underPointer(v.view, at);
        sendWheel(v.view.viewport(), pixelDelta, angleDelta, Qt::NoScrollPhase, false, at);
        QCOMPARE(v.view.magnification(), magnification);
        QCOMPARE(v.s.magnification(), magnification);
        QVERIFY(!v.view.isFitMode());
        QVERIFY2(near(underPointer(v.view, at), before), text(underPointer(v.view, at)));
    }

    void swipesNavigateOncePerGesture_data()
    {
        QTest::addColumn<QList<QList<int>>>("gestures"); // horizontal points per update
        QTest::addColumn<bool>("zoomedIn");
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("navigations");
        using G = QList<QList<int>>;
        QTest::newRow("40 points") << G{{20, 20}} << false << false << 0 << 0;
        QTest::newRow("51 points") << G{{30, 21}} << false << false << 1 << 1;
        QTest::newRow("on to 200 points") << G{{30, 21, 100, 49}} << false << false << 1 << 1;
        QTest::newRow("leftwards goes back") << G{{-30, -21}} << false << false << 2 << 1;
        QTest::newRow("natural scrolling") << G{{30, 21}} << false << true << 2 << 1;
        QTest::newRow("every swipe navigates") << G{{51}, {51}, {-51}} << false << false << 1 << 3;
        QTest::newRow("zoomed in") << G{{30, 21}} << true << false << 0 << 0;
    }
    void swipesNavigateOncePerGesture()
    {
        QFETCH(QList<QList<int>>, gestures);
        QFETCH(bool, zoomedIn);
        QFETCH(bool, inverted);
        QFETCH(int, index);
        QFETCH(int, navigations);
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still({1000, 500}));
        v.listFolder();
        if (zoomedIn)
            v.request(ZoomAction::zoomIn);
        const double magnification = v.view.magnification();
        QSignalSpy navigated(&v.s, &AppState::currentURLChanged);
        for (const QList<int> &g : gestures)
            swipe(v.view.viewport(), g, inverted);
        QCOMPARE(navigated.count(), navigations);
        QCOMPARE(v.s.currentIndex(), index);
        QCOMPARE(v.view.magnification(), magnification); // sideways travel never zooms
    }

    void pressAndRelease_data()
    {
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<QPoint>("release"); // moved there first when different
        QTest::addColumn<int>("index");      // -1: no navigation
        QTest::newRow("right half") << QPoint(600, 300) << QPoint(600, 300) << 1;
        QTest::newRow("just right of the middle") << QPoint(401, 300) << QPoint(401, 300) << 1;
        QTest::newRow("left half wraps back") << QPoint(200, 300) << QPoint(200, 300) << 2;
        QTest::newRow("just left of the middle") << QPoint(399, 300) << QPoint(399, 300) << 2;
        QTest::newRow("3 points is a click") << QPoint(600, 300) << QPoint(603, 297) << 1;
        QTest::newRow("4 points across is a drag") << QPoint(600, 300) << QPoint(604, 300) << -1;
        QTest::newRow("4 points down is a drag") << QPoint(600, 300) << QPoint(600, 304) << -1;
    }
    void pressAndRelease()
    {
        QFETCH(QPoint, press);
        QFETCH(QPoint, release);
        QFETCH(int, index);
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still({1000, 500}));
        v.listFolder();
        QSignalSpy navigated(&v.s, &AppState::currentURLChanged);
        QWidget *vp = v.view.viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, press);
        if (release != press)
            QTest::mouseMove(vp, release);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, release);
        QCOMPARE(navigated.count(), index < 0 ? 0 : 1);
        QCOMPARE(v.s.currentIndex(), index < 0 ? 0 : index);
        QCOMPARE(vp->cursor().shape(), Qt::OpenHandCursor);
    }

    void dragPansWithTheClosedHand()
    {
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still({2000, 1500}));
        v.listFolder();
        v.request(ZoomAction::actualSize);
        QCOMPARE(v.view.clipBounds().topLeft(), QPointF(600, 450));
        QSignalSpy navigated(&v.s, &AppState::currentURLChanged);
        QWidget *vp = v.view.viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(400, 300));
        QTest::mouseMove(vp, QPoint(402, 300));
        QCOMPARE(v.view.clipBounds().topLeft(), QPointF(600, 450)); // still a click
        QCOMPARE(vp->cursor().shape(), Qt::OpenHandCursor);
        QTest::mouseMove(vp, QPoint(404, 300)); // the held-back travel counts too
        QCOMPARE(v.view.clipBounds().topLeft(), QPointF(596, 450));
        QCOMPARE(vp->cursor().shape(), Qt::ClosedHandCursor);
        QTest::mouseMove(vp, QPoint(430, 320));
        QCOMPARE(v.view.clipBounds().topLeft(), QPointF(570, 430));
        QVERIFY2(near(v.s.visibleRect(), QRectF(0.285, 1 - 1030 / 1500.0, 0.4, 0.4)),
                 text(v.s.visibleRect()));
        QTest::mouseMove(vp, QPoint(1430, 1320)); // stops at the document's edge
        QCOMPARE(v.view.clipBounds().topLeft(), QPointF(0, 0));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(1430, 1320));
        QCOMPARE(vp->cursor().shape(), Qt::OpenHandCursor);
        QCOMPARE(navigated.count(), 0);
        // The next press starts afresh: a click again.
        QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(600, 300));
        QCOMPARE(navigated.count(), 1);
    }

    void middleClickReissuesTheDisplayModeZoom_data()
    {
        QTest::addColumn<DisplayMode>("mode");
        QTest::addColumn<ZoomAction>("action");
        QTest::addColumn<double>("magnification");
        QTest::newRow("fit to window") << DisplayMode::fitToWindow << ZoomAction::fit << 0.8;
        QTest::newRow("actual size") << DisplayMode::actualSize << ZoomAction::actualSize << 1.0;
    }
    void middleClickReissuesTheDisplayModeZoom()
    {
        QFETCH(DisplayMode, mode);
        QFETCH(ZoomAction, action);
        QFETCH(double, magnification);
        Viewer v;
        QVERIFY(v.show());
        v.s.setDisplayMode(mode);
        v.showImage(still({1000, 500}));
        v.listFolder();
        v.request(ZoomAction::zoomIn);
        v.request(ZoomAction::zoomIn);
        QSignalSpy navigated(&v.s, &AppState::currentURLChanged);
        QTest::mouseClick(v.view.viewport(), Qt::MiddleButton, {}, QPoint(600, 300));
        QCOMPARE(v.s.zoomAction(), std::optional(action));
        nextTurn();
        QCOMPARE(v.s.zoomAction(), std::nullopt);
        QCOMPARE(v.view.magnification(), magnification);
        QCOMPARE(navigated.count(), 0);
    }

    // A sharper decode of the same image replaces the preview without moving anything.
    void replacementKeepsTheView_data()
    {
        QTest::addColumn<bool>("zoomedIn");
        QTest::addColumn<QSizeF>("points"); // of the replacement
        QTest::addColumn<double>("magnification");
        QTest::newRow("fitted, full resolution") << false << QSizeF(2000, 1500) << 0.4;
        QTest::newRow("zoomed in, full resolution") << true << QSizeF(2000, 1500) << 1.0;
        QTest::newRow("fitted, another image") << false << QSizeF(1000, 500) << 0.8;
        QTest::newRow("zoomed in, another image") << true << QSizeF(4000, 3000) << 1.0;
    }
    void replacementKeepsTheView()
    {
        QFETCH(bool, zoomedIn);
        QFETCH(QSizeF, points);
        QFETCH(double, magnification);
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still(halves({500, 375}), QSizeF(2000, 1500)));
        if (zoomedIn) {
            v.request(ZoomAction::actualSize);
            v.view.horizontalScrollBar()->setValue(300);
            v.view.verticalScrollBar()->setValue(800);
        }
        const QRectF clip = v.view.clipBounds();
        const QRectF visible = v.s.visibleRect();
        v.showImage(still(halves(points.toSize()), points));
        QCOMPARE(v.view.magnification(), magnification);
        QCOMPARE(v.s.magnification(), magnification);
        QCOMPARE(v.view.isFitMode(), !zoomedIn);
        if (points == QSizeF(2000, 1500)) {
            QVERIFY2(near(v.view.clipBounds(), clip), text(v.view.clipBounds()));
            QVERIFY2(near(v.s.visibleRect(), visible), text(v.s.visibleRect()));
        }
    }

    // 2000x1000 fitted (0.4, drawn from the half-size level once it exists) covers
    // (0, 100)-(800, 500); at actual size it fills the viewport with x = 1000 in the middle.
    void drawsTheVisiblePart_data()
    {
        QTest::addColumn<ZoomAction>("zoom");
        QTest::addColumn<bool>("pyramidReady");
        QTest::addColumn<QList<QPoint>>("red");
        QTest::addColumn<QList<QPoint>>("blue");
        QTest::addColumn<QList<QPoint>>("unpainted");
        const QList<QPoint> fitRed{{5, 105}, {395, 300}, {5, 495}};
        const QList<QPoint> fitBlue{{405, 300}, {795, 105}, {795, 495}};
        const QList<QPoint> fitOutside{{400, 95}, {400, 505}, {5, 5}};
        const QList<QPoint> actualRed{{0, 0}, {399, 300}, {399, 599}};
        const QList<QPoint> actualBlue{{401, 0}, {400, 300}, {799, 599}};
        for (const bool ready : {false, true}) {
            const char *suffix = ready ? ", pyramid ready" : ", pyramid pending";
            QTest::addRow("fit%s", suffix)
                << ZoomAction::fit << ready << fitRed << fitBlue << fitOutside;
            QTest::addRow("actual size%s", suffix)
                << ZoomAction::actualSize << ready << actualRed << actualBlue << QList<QPoint>{};
        }
    }
    void drawsTheVisiblePart()
    {
        QFETCH(ZoomAction, zoom);
        QFETCH(bool, pyramidReady);
        QFETCH(QList<QPoint>, red);
        QFETCH(QList<QPoint>, blue);
        QFETCH(QList<QPoint>, unpainted);
        Viewer v;
        QVERIFY(v.show());
        // A zoom request applies at once, so the pyramid cannot have arrived before the
        // event loop runs.
        v.s.setCurrentImage(still({2000, 1000}));
        v.s.setZoomAction(zoom);
        if (pyramidReady)
            QTRY_VERIFY(!v.view.isPreparing());
        else
            QVERIFY(v.view.isPreparing());
        const QImage shot = v.render();
        for (const QPoint p : red)
            QVERIFY2(shot.pixelColor(p) == QColor(Qt::red), text(p));
        for (const QPoint p : blue)
            QVERIFY2(shot.pixelColor(p) == QColor(Qt::blue), text(p));
        for (const QPoint p : unpainted)
            QVERIFY2(shot.pixelColor(p) == sentinel, text(p));
    }

    // A bitmap over 64 MiB is drawn in row bands; the band boundary must not show.
    void drawsAcrossTileBoundaries_data()
    {
        QTest::addColumn<ZoomAction>("zoom");
        QTest::addColumn<QPoint>("above"); // viewport pixels just above / below row 4096
        QTest::addColumn<QPoint>("below");
        QTest::addColumn<QPoint>("bottom");
        // At actual size scrolled to the bottom, row 4096 is at y = 496; fitted (1/7) at 585.
        QTest::newRow("actual size")
            << ZoomAction::actualSize << QPoint(400, 492) << QPoint(400, 500) << QPoint(400, 599);
        QTest::newRow("fit") << ZoomAction::fit << QPoint(400, 582) << QPoint(400, 589)
                             << QPoint(400, 599);
    }
    void drawsAcrossTileBoundaries()
    {
        QFETCH(ZoomAction, zoom);
        QFETCH(QPoint, above);
        QFETCH(QPoint, below);
        QFETCH(QPoint, bottom);
        QImage bitmap(4096, 4200, QImage::Format_RGB32); // 16 KiB rows: 4096 per band
        bitmap.fill(Qt::red);
        {
            QPainter p(&bitmap);
            p.fillRect(QRect(0, 4096, 4096, 104), Qt::blue);
        }
        Viewer v;
        QVERIFY(v.show());
        v.s.setCurrentImage(still(bitmap));
        v.s.setZoomAction(zoom);
        v.s.setScrollTarget(QPointF(0.5, 0));
        for (const bool ready : {false, true}) {
            if (ready)
                QTRY_VERIFY(!v.view.isPreparing());
            else
                QVERIFY(v.view.isPreparing());
            const QImage shot = v.render();
            QVERIFY2(shot.pixelColor(above) == QColor(Qt::red), text(above));
            QVERIFY2(shot.pixelColor(below) == QColor(Qt::blue), text(below));
            QVERIFY2(shot.pixelColor(bottom) == QColor(Qt::blue), text(bottom));
        }
    }

    void clearingTheImageStopsPreparing()
    {
        Viewer v;
        QVERIFY(v.show());
        v.showImage(still({3000, 2000}));
        v.s.setCurrentImage(std::nullopt);
        QVERIFY(!v.view.isPreparing());
        nextTurn();
        QCOMPARE(v.view.documentSize(), QSizeF());
        QCOMPARE(v.render().pixelColor(400, 300), sentinel);
    }

    // The window frame is centred in the screen's available area and shows the image whole.
    void autoSizeFitsTheWindowToTheImage_data()
    {
        QTest::addColumn<QSize>("image");
        QTest::addColumn<bool>("scaledDown");
        QTest::newRow("larger than the screen") << QSize(6000, 2500) << true;
        QTest::newRow("taller than the screen") << QSize(1200, 5000) << true;
        QTest::newRow("smaller than the screen") << QSize(300, 200) << false;
    }
    void autoSizeFitsTheWindowToTheImage()
    {
        QFETCH(QSize, image);
        QFETCH(bool, scaledDown);
        test::TestServices t;
        AppState s(t.services);
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(10, 20, 10, 30);
        auto *view = new ZoomableImageView(s);
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        layout->addWidget(view);
        window.resize(420, 350);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // The layout's margins plus whatever decoration the platform draws.
        const QSizeF chrome = QSizeF(20, 50) + QSizeF(window.frameGeometry().size()) -
                              QSizeF(window.geometry().size());
        QCOMPARE(QSizeF(window.frameGeometry().size()) - QSizeF(view->viewport()->size()), chrome);
        const QRectF available = view->window()->screen()->availableGeometry();
        QVERIFY(available.width() < 6000 && available.height() < 5000);

        s.setCurrentImage(still(image));
        nextTurn();
        const auto frame = view->autoSizeFrame();
        QVERIFY(frame);
        QVERIFY2(std::abs(frame->center().x() - available.center().x()) <= 0.5, text(*frame));
        QVERIFY2(std::abs(frame->center().y() - available.center().y()) <= 0.5, text(*frame));
        const QSizeF shown = frame->size() - chrome;
        if (scaledDown) {
            QVERIFY2(available.contains(*frame), text(*frame));
            // Scaled as a whole, until one side meets the screen's edge.
            const double aspect = shown.width() / shown.height();
            QVERIFY2(std::abs(aspect / (image.width() / double(image.height())) - 1) < 0.01,
                     text(*frame));
            QVERIFY2(near(frame->width(), available.width()) ||
                         near(frame->height(), available.height()),
                     text(*frame));
        } else {
            QCOMPARE(shown, QSizeF(image));
        }

        // In auto-size mode a new image resizes the window to that frame and fits into it.
        s.setDisplayMode(DisplayMode::autoSizeWindow);
        s.setCurrentImage(still(image));
        QTRY_COMPARE(window.frameGeometry(), frame->toRect());
        QTRY_COMPARE(view->viewport()->size(), shown.toSize());
        QTRY_COMPARE(view->magnification(), view->minimumMagnification());
        QVERIFY(view->isFitMode());
        if (!scaledDown)
            QCOMPARE(view->magnification(), 1.0);
        const QSizeF onScreen = QSizeF(image) * view->magnification();
        QVERIFY(std::min(std::abs(onScreen.width() - shown.width()),
                         std::abs(onScreen.height() - shown.height())) <= 1);
        QVERIFY2(near(s.visibleRect(), QRectF(0, 0, 1, 1)), text(s.visibleRect()));
    }

    void animationFollowsTheVirtualClock_data()
    {
        QTest::addColumn<int>("loopCount");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<int>("frame");
        QTest::newRow("first frame holds 100 ms") << 0 << 0.099 << 0;
        QTest::newRow("second frame at 100 ms") << 0 << 0.1 << 1;
        QTest::newRow("third frame at 300 ms") << 0 << 0.3 << 2;
        QTest::newRow("one play ends on the last frame") << 0 << 5.0 << 2;
        QTest::newRow("one extra play wraps once") << 1 << 0.7 << 1;
        QTest::newRow("one extra play ends on the last frame") << 1 << 5.0 << 2;
        QTest::newRow("endless loop") << -1 << 3.1 << 1;
    }
    void animationFollowsTheVirtualClock()
    {
        QFETCH(int, loopCount);
        QFETCH(double, elapsed);
        QFETCH(int, frame);
        Viewer v;
        QVERIFY(v.show());
        v.showImage(animation({100, 200, 300}, loopCount));
        v.s.resetAnimation();
        v.t.scheduler.advance(elapsed);
        QCOMPARE(v.render().pixelColor(400, 300), frameColours[frame]);
        v.s.toggleAnimationPause();
        QVERIFY(v.s.isAnimationPaused());
        QCOMPARE(v.s.animationFrame(), frame);
        QCOMPARE(v.render().pixelColor(400, 300), frameColours[frame]);
    }

    void pausedAnimationStepsByHand()
    {
        Viewer v;
        QVERIFY(v.show());
        v.showImage(animation({100, 200, 300}, -1));
        v.s.resetAnimation();
        auto shown = [&v] { return frameColours.indexOf(v.render().pixelColor(400, 300)); };
        v.t.scheduler.advance(0.1);
        v.s.toggleAnimationPause();
        QCOMPARE(v.s.animationFrame(), 1);
        v.t.scheduler.advance(5);
        QCOMPARE(v.t.scheduler.pendingCount(), 0); // no frame timer left running
        QCOMPARE(shown(), 1);
        v.s.stepAnimationFrame(+1);
        QCOMPARE(shown(), 2);
        v.s.stepAnimationFrame(+1);
        QCOMPARE(shown(), 0);
        v.s.stepAnimationFrame(-1);
        QCOMPARE(shown(), 2);
        QCOMPARE(v.s.animationFrame(), 2);

        // Resuming plays on from the stepped frame; pausing at once stays on it.
        v.s.toggleAnimationPause();
        QVERIFY(!v.s.isAnimationPaused());
        v.s.toggleAnimationPause();
        QCOMPARE(v.s.animationFrame(), 2);
        QCOMPARE(shown(), 2);
        v.s.toggleAnimationPause();
        v.t.scheduler.advance(0.3);
        QCOMPARE(shown(), 0);
        v.s.toggleAnimationPause();
        QCOMPARE(v.s.animationFrame(), 0);
    }

    void newAnimationStartsOnItsOwnClock()
    {
        Viewer v;
        QVERIFY(v.show());
        v.showImage(animation({1000, 1000, 1000}, -1));
        v.s.resetAnimation();
        v.t.scheduler.advance(0.5);
        v.s.setCurrentImage(animation({100, 200, 300}, -1));
        v.s.resetAnimation();
        v.t.scheduler.advance(0.1);
        v.s.toggleAnimationPause();
        QCOMPARE(v.s.animationFrame(), 1);
        v.s.toggleAnimationPause();
        // A still image stops the frame timer; the clock then runs dry.
        v.s.setCurrentImage(still({100, 100}));
        v.s.resetAnimation();
        v.t.scheduler.advance(5);
        QCOMPARE(v.t.scheduler.pendingCount(), 0);
    }
};

QTEST_MAIN(TestZoomableImageView)
#include "tst_zoomableimageview.moc"
