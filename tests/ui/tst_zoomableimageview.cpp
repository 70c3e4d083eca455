// The image view driven through real events; tst_zoommodel has the zoom arithmetic.
#include "core/state/AppState.h"
#include "support/TestServices.h"
#include "ui/ZoomableImageView.h"

#include <QtTest>
#include <QtWidgets>

#include <functional>

using namespace orva;
using namespace Qt::StringLiterals;
using Z = ZoomAction;

Q_DECLARE_METATYPE(orva::ZoomAction)

namespace {

const QColor sentinel(255, 0, 255); // what the view leaves unpainted
const QList<QColor> frameColours{Qt::red, Qt::green, Qt::blue};

DecodedImage still(const QImage &bitmap, QSizeF points = {})
{
    auto image = std::make_shared<DisplayImage>();
    image->pointSize = points.isEmpty() ? QSizeF(bitmap.size()) : points;
    image->frames.push_back({bitmap, 0});
    return DecodedImage{image, bitmap, image, bitmap.width() / image->pointSize.width()};
}

QImage filled(QSize size, QColor colour, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    image.fill(colour);
    return image;
}

// Left half red, right half blue, so a rendering shows which part of the image is where.
QImage halves(QSize size)
{
    QImage image = filled(size, Qt::red);
    QPainter(&image).fillRect(QRect(size.width() / 2, 0, size.width(), size.height()), Qt::blue);
    return image;
}

DecodedImage still(QSize size) { return still(halves(size)); }

// Runs what the view deferred to the next turn of the event loop.
void nextTurn() { QCoreApplication::processEvents(); }

// The clip of an 800x600 viewport at magnification m with document point `doc` under `at`.
QRectF around(QPointF doc, QPointF at, double m) { return {doc - at / m, QSizeF(800, 600) / m}; }

// A top-level view whose 800x600 viewport is exactly the window, over a state on fakes.
struct Viewer {
    test::TestServices t;
    AppState s{t.services};
    ZoomableImageView view{s};
    QWidget *vp = view.viewport();

    ~Viewer() { t.tasks.waitForDone(); } // loads started by navigation end first

    [[nodiscard]] bool show(QSize image = {})
    {
        view.resize(800, 600);
        view.show();
        const bool shown = QTest::qWaitForWindowExposed(&view) && vp->size() == QSize(800, 600);
        if (shown && !image.isEmpty())
            showImage(still(image));
        return shown;
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
    QImage render()
    {
        QImage out(vp->size(), QImage::Format_RGB32);
        out.fill(sentinel);
        vp->render(&out, QPoint(), QRegion(), QWidget::DrawChildren);
        return out;
    }
};

using Input = std::function<void(Viewer &)>;

template <typename... Steps> Input seq(Steps... steps)
{
    return [=](Viewer &v) { (Input(steps)(v), ...); };
}

template <typename... Actions> Input requests(Actions... actions)
{
    return [=](Viewer &v) { (v.request(actions), ...); };
}

void sendWheel(Viewer &v, QPoint pixels, QPoint angle, Qt::ScrollPhase phase, bool inverted = false,
               QPointF pos = {400, 300})
{
    QWheelEvent e(pos, v.vp->mapToGlobal(pos), pixels, angle, Qt::NoButton, Qt::NoModifier, phase,
                  inverted);
    QCoreApplication::sendEvent(v.vp, &e);
}

// Two-finger swipes as a trackpad reports them: begin and end carry no distance. Without
// phases (some X11 drivers) only precise deltas come, with a pause between swipes.
Input swipes(const QList<QList<int>> &gestures, bool inverted = false, bool phases = true)
{
    return [=](Viewer &v) {
        for (const QList<int> &dxs : gestures) {
            if (phases)
                sendWheel(v, {}, {}, Qt::ScrollBegin, inverted);
            else
                v.t.scheduler.advance(0.5);
            for (const int dx : dxs) {
                sendWheel(v, {dx, 0}, {dx * 8, 0}, phases ? Qt::ScrollUpdate : Qt::NoScrollPhase,
                          inverted);
                v.t.scheduler.advance(0.016);
            }
            if (phases)
                sendWheel(v, {}, {}, Qt::ScrollEnd, inverted);
        }
    };
}

// A trackpad pinch at (200, 300): begin, a zoom event per value, end.
Input pinch(const QList<double> &values)
{
    return [=](Viewer &v) {
        const QPointF pos(200, 300);
        const auto send = [&v, pos](Qt::NativeGestureType type, double value) {
            QNativeGestureEvent e(type, QPointingDevice::primaryPointingDevice(), 2, pos, pos,
                                  v.vp->mapToGlobal(pos), value, QPointF());
            QCoreApplication::sendEvent(v.vp, &e);
        };
        send(Qt::BeginNativeGesture, 0);
        for (const double value : values)
            send(Qt::ZoomNativeGesture, value);
        send(Qt::EndNativeGesture, 0);
    };
}

// A left-button press at `at`, dragged through `path` (the closed hand shows meanwhile), released
// at its end.
Input press(QPoint at, const QList<QPoint> &path = {})
{
    return [=](Viewer &v) {
        QTest::mousePress(v.vp, Qt::LeftButton, {}, at);
        for (const QPoint p : path)
            QTest::mouseMove(v.vp, p);
        if (!path.isEmpty())
            QCOMPARE(v.vp->cursor().shape(), Qt::ClosedHandCursor);
        QTest::mouseRelease(v.vp, Qt::LeftButton, {}, path.isEmpty() ? at : path.last());
    };
}

// A preview of 2000x1500 points, fitted or scrolled at actual size, then a decode of `points`.
Input replaced(bool zoomedIn, QSizeF points)
{
    return [=](Viewer &v) {
        v.showImage(still(halves({500, 375}), {2000, 1500}));
        if (zoomedIn) {
            v.request(Z::actualSize);
            v.view.horizontalScrollBar()->setValue(300);
            v.view.verticalScrollBar()->setValue(800);
        }
        v.showImage(still(halves(points.toSize()), points));
    };
}

struct Zoom {
    QSize image; // shown before the input; empty: none
    Input input;
    double magnification;
    bool fitMode;
    QRectF clip = {};    // document points; null: not checked
    QRectF visible = {}; // fractions, bottom-left origin; null: not checked
    double resized = 0;  // once the viewport grows to 900x700; 0: not checked
    int index = -1;      // in a folder of three, from the first; -1: no folder
};

// On the first of three files, a 1000x500 image fitted at 0.8.
Zoom inFolder(Input input, int index, double magnification = 0.8, bool fitMode = true)
{
    return {{1000, 500}, input, magnification, fitMode, {}, {}, 0, index};
}

} // namespace

Q_DECLARE_METATYPE(Zoom)
Q_DECLARE_METATYPE(Input)

class TestZoomableImageView : public QObject {
    Q_OBJECT

private slots:
    void zoom_data()
    {
        QTest::addColumn<Zoom>("c");
        const QSize wide(1000, 500); // fits at 0.8
        const QSize big(2000, 1500);
        const QRectF whole(0, 0, 1, 1);
        QTest::newRow("shown fitted") << Zoom{wide, requests(), 0.8, true, {}, whole, 0.9};
        const QRectF twiceIn(5 / 18.0, 1 / 6.0, 4 / 9.0, 2 / 3.0);
        QTest::newRow("zoom in twice")
            << Zoom{wide, requests(Z::zoomIn, Z::zoomIn), 1.8, false, {}, twiceIn, 1.8};
        // The fit is the whole view's, whatever showed while zoomed in.
        QTest::newRow("in, then out twice ends at the fit")
            << Zoom{wide, requests(Z::zoomIn, Z::zoomOut, Z::zoomOut), 0.8, false, {}, whole, 0.8};
        // A request notified again before the view has consumed it is not applied twice.
        const Input twice = [](Viewer &v) {
            v.s.setZoomAction(Z::zoomIn);
            v.s.setZoomAction(Z::zoomIn);
            emit v.s.zoomActionChanged();
            nextTurn();
        };
        QTest::newRow("request passed twice") << Zoom{wide, twice, 1.2, false};

        const QPointF fingers(200, 300); // over document point (250, 250) when fitted
        QTest::newRow("pinch") << Zoom{wide, pinch({0.5, 11.5}), 15.0, false,
                                       around({250, 250}, fingers, 15)};
        const Input notch = [](Viewer &v) {
            sendWheel(v, {}, {0, 120}, Qt::NoScrollPhase, false, {200, 150});
        };
        // At actual size the clip starts at (600, 450); a drag moves it, up to the edges.
        const Input actual = requests(Z::actualSize);
        QTest::newRow("wheel notch")
            << Zoom{big, seq(actual, notch), 1.1, false, around({800, 600}, {200, 150}, 1.1)};
        const Input pan = press({600, 300}, {{400, 300}, {100, 500}});
        QTest::newRow("drag pans")
            << Zoom{big, seq(actual, pan), 1.0, false, {1100, 250, 800, 600}};
        const Input corner = press({799, 300}, {{1, 1}}), down = press({400, 0}, {{400, 599}});
        QTest::newRow("drag stops at the edges")
            << Zoom{big, seq(actual, corner, down, down), 1.0, false, {1200, 0, 800, 600}};
        const Input scrolled = [](Viewer &v) {
            v.s.setScrollTarget(QPointF(0.5, 0.6)); // fractions, bottom-left origin
            nextTurn();
        };
        const QRectF target(0.3, 0.4, 0.4, 0.4);
        QTest::newRow("scroll target")
            << Zoom{big, seq(actual, scrolled), 1.0, false, {600, 300, 800, 600}, target};

        // The first image arrives after a zoom request, or with it in the same turn.
        const Input first = [](Viewer &v) { v.showImage(still({2000, 1000})); };
        QTest::newRow("actual size before the first image")
            << Zoom{{}, seq(actual, first), 1.0, false, {600, 200, 800, 600}};
        const Input together = [](Viewer &v) {
            v.s.setCurrentImage(still({2000, 1000}));
            v.request(Z::zoomIn);
        };
        QTest::newRow("zoom in with the first image")
            << Zoom{{}, together, 0.6, false, around({1000, 500}, {400, 300}, 0.6)};

        // A sharper decode of the same image replaces the preview without moving anything.
        const QRectF scrolledBy(0.15, 100 / 1500.0, 0.4, 0.4); // the scroll bars
        QTest::newRow("preview replaced, fitted")
            << Zoom{{}, replaced(false, {2000, 1500}), 0.4, true, {0, 0, 2000, 1500}, whole};
        QTest::newRow("preview replaced, scrolled")
            << Zoom{{}, replaced(true, {2000, 1500}), 1.0, false, {300, 800, 800, 600}, scrolledBy};
        QTest::newRow("another image, zoomed in")
            << Zoom{{}, replaced(true, {4000, 3000}), 1.0, false};

        QTest::newRow("40 point swipe") << inFolder(swipes({{20, 20}}), 0);
        QTest::newRow("two 51 point swipes") << inFolder(swipes({{30, 21}, {30, 21}}), 2);
        QTest::newRow("leftwards goes back") << inFolder(swipes({{-30, -21}}), 2);
        QTest::newRow("natural scrolling") << inFolder(swipes({{30, 21}}, true), 2);
        QTest::newRow("swipes without phases")
            << inFolder(swipes({{30, 30}, {30, 30}}, false, false), 2);
        QTest::newRow("swipe zoomed in")
            << inFolder(seq(requests(Z::zoomIn), swipes({{30, 21}})), 0, 1.2, false);
        QTest::newRow("click right of centre") << inFolder(press({401, 300}), 1);
        QTest::newRow("click at centre goes back") << inFolder(press({400, 300}), 2);
        QTest::newRow("4 points across is a drag") << inFolder(press({600, 300}, {{604, 300}}), 0);
        const Input middleClick = [](Viewer &v) { // reissues the display mode's zoom
            QTest::mouseClick(v.vp, Qt::MiddleButton, {}, QPoint(600, 300));
            QCOMPARE(v.s.zoomAction(), std::optional(Z::fit));
            nextTurn();
        };
        QTest::newRow("middle click refits")
            << inFolder(seq(requests(Z::zoomIn, Z::zoomIn), middleClick), 0);
    }
    void zoom()
    {
        QFETCH(Zoom, c);
        Viewer v;
        QVERIFY(v.show(c.image));
        if (c.index >= 0) {
            v.s.setImageFiles(
                {QUrl(u"file:/p/a.jpg"_s), QUrl(u"file:/p/b.jpg"_s), QUrl(u"file:/p/c.jpg"_s)});
            v.s.setCurrentIndex(0);
            v.s.setCurrentURL(QUrl(u"file:/p/a.jpg"_s));
        }
        c.input(v);
        QCOMPARE(v.s.currentIndex(), std::max(c.index, 0));
        QCOMPARE(v.vp->cursor().shape(), Qt::OpenHandCursor);
        QVERIFY(!v.s.zoomAction() && !v.s.scrollTarget()); // consumed
        QCOMPARE(v.view.magnification(), c.magnification);
        QCOMPARE(v.s.magnification(), c.magnification);
        QCOMPARE(v.view.isFitMode(), c.fitMode);
        QCOMPARE(v.vp->size(), QSize(800, 600)); // nothing shrinks the view while zoomed in
        if (!c.clip.isNull())
            QCOMPARE(v.view.clipBounds(), c.clip);
        if (!c.visible.isNull())
            QCOMPARE(v.s.visibleRect(), c.visible);
        if (c.resized > 0) { // refits only in fit mode
            v.view.resize(900, 700);
            QTRY_COMPARE(v.vp->size(), QSize(900, 700));
            QCOMPARE(v.view.magnification(), c.resized);
            QCOMPARE(v.s.magnification(), c.resized);
        }
    }

    // Checked before and after the view's reduced-size levels are ready.
    void drawsTheVisiblePart()
    {
        using P = QList<QPoint>;
        struct Case {
            QImage bitmap;
            ZoomAction zoom;
            P red, blue, unpainted = {};
        };
        // Over 64 MiB, drawn in bands of 4096 16 KiB rows: no seam where bands meet. Scrolled
        // to the bottom, row 4096 is at y = 496 at actual size and 585 fitted (1/7).
        QImage bands = filled({4096, 4200}, Qt::red);
        QPainter(&bands).fillRect(QRect(0, 4096, 4096, 104), Qt::blue);
        // 2000x1000 fitted (0.4) covers (0, 100)-(800, 500); at actual size x = 1000 is central.
        for (const Case &c :
             {Case{halves({2000, 1000}), Z::fit, P{{5, 105}, {395, 300}, {5, 495}},
                   P{{405, 300}, {795, 105}, {795, 495}}, P{{400, 95}, {400, 505}, {5, 5}}},
              Case{halves({2000, 1000}), Z::actualSize, P{{0, 0}, {399, 300}, {399, 599}},
                   P{{401, 0}, {400, 300}, {799, 599}}},
              Case{bands, Z::actualSize, P{{400, 492}}, P{{400, 500}, {400, 599}}},
              Case{bands, Z::fit, P{{400, 582}}, P{{400, 589}, {400, 599}}}}) {
            Viewer v;
            QVERIFY(v.show());
            v.s.setCurrentImage(still(c.bitmap));
            v.s.setZoomAction(c.zoom); // applied at once, before the levels can arrive
            if (c.bitmap.height() > 4096)
                v.s.setScrollTarget(QPointF(0.5, 0));
            for (const bool ready : {false, true}) {
                if (ready)
                    QTRY_VERIFY(!v.view.isPreparing());
                QCOMPARE(v.view.isPreparing(), !ready);
                const QImage shot = v.render();
                for (const auto &[points, colour] : {std::pair{c.red, QColor(Qt::red)},
                                                     {c.blue, QColor(Qt::blue)},
                                                     {c.unpainted, sentinel}})
                    for (const QPoint p : points)
                        QCOMPARE(shot.pixelColor(p), colour);
            }
        }
    }

    // Deep pixels are converted before they are cut to 8 bits: a ramp through the shadows of
    // linear light keeps its steps, instead of the dozen an early 8-bit reduction leaves.
    void deepImagesDrawSmoothly()
    {
        QImage ramp(800, 8, QImage::Format_RGBX64);
        for (int x = 0; x < 800; ++x) {
            const auto level = quint16(0.05 * 65535 * x / 799);
            for (int y = 0; y < 8; ++y)
                ramp.setPixelColor(x, y, QColor::fromRgba64(level, level, level));
        }
        ramp.setColorSpace(
            QColorSpace(QColorSpace::Primaries::SRgb, QColorSpace::TransferFunction::Linear));
        Viewer v;
        QVERIFY(v.show());
        v.s.setCurrentImage(still(ramp));
        QTRY_VERIFY(!v.view.isAwaitingFirstLevel() && !v.view.isPreparing());
        const QImage shot = v.render();
        QList<int> row;
        for (int x = 0; x < shot.width(); ++x)
            row << qGreen(shot.pixel(x, 300));
        const auto levels = QSet<int>(row.begin(), row.end()).size();
        QVERIFY2(std::ranges::is_sorted(row) && levels >= 55, QByteArray::number(levels));
    }

    // A bitmap that must be converted for the screen replaces what is shown only once its
    // first drawing level exists, so its first frame is already sharp. A neighbour decoded
    // ahead has its level built ahead: the first frame after the key shows it, fading in.
    void firstFrameAfterTheKeyIsDrawnFromALevel()
    {
        // Drawable as is, and converted.
        for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_RGB888}) {
            Viewer v;
            QVERIFY(v.show({1000, 500}));
            const auto image = [format](QColor colour) {
                return still(filled({1600, 1200}, colour, format));
            };
            const DecodedImage red = image(Qt::red), blue = image(Qt::blue);
            v.s.setCurrentImage(red);
            QCOMPARE(v.view.isAwaitingFirstLevel(), format == QImage::Format_RGB888);
            if (v.view.isAwaitingFirstLevel())
                QCOMPARE(v.view.documentSize(), QSizeF(1000, 500)); // the old image stays meanwhile
            QTRY_VERIFY(!v.view.isAwaitingFirstLevel() && !v.view.isPreparing());
            QCOMPARE(v.view.documentSize(), QSizeF(1600, 1200));
            QTRY_COMPARE(v.render().pixelColor(400, 300), QColor(Qt::red)); // after the fade

            emit v.s.imageDecoded(QUrl::fromLocalFile(QStringLiteral("/p/b.jpg")), blue);
            v.t.tasks.waitForDone();
            nextTurn();
            v.s.setCurrentImage(blue); // the key
            QVERIFY(!v.view.isAwaitingFirstLevel() && !v.view.isPreparing());
            const QColor first = v.render().pixelColor(400, 300);
            QVERIFY2(first.blue() > 0 && first.red() > first.blue(), qPrintable(first.name()));
            QTRY_COMPARE(v.render().pixelColor(400, 300), QColor(Qt::blue)); // after the fade

            // Stepping on before a level is ready never shows the skipped image.
            v.s.setCurrentImage(image(Qt::cyan));
            v.s.setCurrentImage(still({1000, 500}));
            QCOMPARE(v.view.documentSize(), QSizeF(1000, 500));
            v.t.tasks.waitForDone();
            nextTurn();
            QCOMPARE(v.view.documentSize(), QSizeF(1000, 500));
        }
    }

    // Frames of 100, 200 and 300 ms, played once, twice or endlessly; paused, the frame on
    // screen is the one reported.
    void animationFollowsTheVirtualClock()
    {
        const std::tuple<int, double, int> cases[]{{0, 0.099, 0}, {0, 0.1, 1}, {0, 0.3, 2},
                                                   {0, 5.0, 2},   {1, 0.7, 1}, {1, 5.0, 2},
                                                   {-1, 3.1, 1}};
        for (const auto &[loopCount, elapsed, frame] : cases) {
            Viewer v;
            QVERIFY(v.show());
            auto image = std::make_shared<DisplayImage>(DisplayImage{{100, 100}, {}, loopCount});
            for (const int delay : {100, 200, 300})
                image->frames.push_back({filled({100, 100}, frameColours[delay / 100 - 1]), delay});
            v.showImage(DecodedImage{image, std::nullopt, image, 1.0});
            v.s.resetAnimation();
            v.t.scheduler.advance(elapsed);
            v.s.toggleAnimationPause();
            QCOMPARE(v.s.animationFrame(), frame);
            QCOMPARE(v.render().pixelColor(400, 300), frameColours[frame]);
        }
    }
};

QTEST_MAIN(TestZoomableImageView)
#include "tst_zoomableimageview.moc"
