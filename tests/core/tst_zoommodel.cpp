#include "core/view/ZoomModel.h"

#include <QtTest>

using namespace orva::zoom;
using Phase = SwipeRecognizer::Phase;

namespace {

// One wheel event fed to a recognizer and what it must produce; nav -1: none, 0: back, 1: forward.
struct SwipeStep {
    SwipeRecognizer::Event event;
    bool consumed = false;
    int nav = -1;
};

SwipeStep step(double dx, double dy, Phase phase, bool consumed, int nav = -1)
{
    return {{dx, dy, true, phase}, consumed, nav};
}

// A phase-less precise event at `time` seconds, as some X11 touchpad drivers send.
SwipeStep bare(double time, double dx, double dy, bool consumed, int nav = -1)
{
    SwipeStep s = step(dx, dy, Phase::none, consumed, nav);
    s.event.time = time;
    return s;
}

SwipeStep momentum(double dx, bool consumed)
{
    return {{dx, 0, true, Phase::none, true}, consumed};
}

struct Request {
    ZoomRequest request;
    double current, minimum, magnification;
    bool fitMode, anchored;
};
struct Wheel {
    double current, dy;
    bool precise;
    double expected; // -1: absent
    bool fitMode;
};
struct Tiles {
    qint64 bytesPerRow, height, rows;
    int count, index;
    qint64 first, rowCount;
};

} // namespace

Q_DECLARE_METATYPE(Request)
Q_DECLARE_METATYPE(Wheel)
Q_DECLARE_METATYPE(Tiles)
Q_DECLARE_METATYPE(QList<SwipeStep>)

class TestZoomModel : public QObject {
    Q_OBJECT

private slots:
    void zoomRequests_data()
    {
        QTest::addColumn<Request>("c");
        using R = ZoomRequest;
        QTest::newRow("fit") << Request{R::fit, 1.8, 0.8, 0.8, true, false};
        QTest::newRow("in to maximum") << Request{R::zoomIn, 15.0, 0.8, 20.0, false, true};
        QTest::newRow("out") << Request{R::zoomOut, 1.8, 0.8, 1.2, false, true};
        QTest::newRow("actual size, small image")
            << Request{R::actualSize, 3.0, 1.0, 1.0, false, true};
    }
    void zoomRequests()
    {
        QFETCH(Request, c);
        const RequestResult r = applyZoomRequest(c.request, c.current, c.minimum);
        QCOMPARE(r.magnification, c.magnification);
        QCOMPARE(r.fitMode, c.fitMode);
        QCOMPARE(r.anchored, c.anchored);
    }

    void wheelZoom_data()
    {
        QTest::addColumn<Wheel>("c");
        QTest::newRow("one notch") << Wheel{1.0, 1.0, false, 1.1, false};
        QTest::newRow("ten trackpad points") << Wheel{1.0, 10.0, true, 1.05, false};
        QTest::newRow("no delta") << Wheel{1.0, 0.0, false, -1, false};
        QTest::newRow("negligible change") << Wheel{1.0, 0.2, true, -1, false};
        QTest::newRow("out past minimum") << Wheel{0.85, -1.0, false, 0.8, true};
        QTest::newRow("out past zero") << Wheel{2.0, -20.0, false, 0.8, true};
        QTest::newRow("in at maximum") << Wheel{20.0, 1.0, false, -1, false};
    }
    void wheelZoom()
    {
        QFETCH(Wheel, c);
        const auto z = ::wheelZoom(c.current, c.dy, c.precise, 0.8);
        QCOMPARE(z ? z->magnification : -1.0, c.expected);
        if (z)
            QCOMPARE(z->fitMode, c.fitMode);
    }

    void geometry()
    {
        QCOMPARE(fitMagnification({500, 1200}, {800, 600}).value_or(-1), 0.5);
        QCOMPARE(fitMagnification({300, 200}, {800, 600}).value_or(-1), 1.0); // never enlarges
        QVERIFY(!fitMagnification({0, 200}, {800, 600}));
        QVERIFY(!fitMagnification({300, 200}, {800, -1}));
        QCOMPARE(visibleFraction({1000, 500}, {250, 100, 500, 250}).value_or(QRectF()),
                 QRectF(0.25, 0.2, 0.5, 0.5));
        QCOMPARE(visibleFraction({1000, 500}, {-100, -50, 1200, 600}).value_or(QRectF()),
                 QRectF(0, 0, 1, 1));
        QVERIFY(!visibleFraction({0, 0}, {0, 0, 10, 10}));
        QCOMPARE(scrollOriginForTarget({0.5, 0.5}, {1000, 500}, {400, 300}), QPointF(300, 100));
        QCOMPARE(scrollOriginForTarget({0.25, 1}, {1000, 500}, {400, 300}), QPointF(50, 350));
        // Centred on the axes where the document is smaller than the clip.
        QCOMPARE(centredClip({0, 0, 800, 600}, {400, 300}), QRectF(-200, -150, 800, 600));
        QCOMPARE(centredClip({0, 120, 800, 600}, {400, 900}), QRectF(-200, 120, 800, 600));
        QCOMPARE(centredClip({50, 120, 800, 600}, {1000, 900}), QRectF(50, 120, 800, 600));
    }

    void swipes_data()
    {
        // The plain distance, direction and fit-mode cases run through the view's test.
        QTest::addColumn<QList<SwipeStep>>("steps");
        QTest::newRow("vertical first")
            << QList{step(1, 5, Phase::began, false), step(60, 70, Phase::changed, false)};
        QTest::newRow("turns vertical")
            << QList{step(10, 0, Phase::began, true), step(1, 10, Phase::changed, true),
                     step(45, 50, Phase::changed, true, 1)};
        SwipeStep wheel = step(60, 0, Phase::none, false);
        wheel.event.precise = false;
        QTest::newRow("mouse wheel") << QList{wheel, wheel};
        QTest::newRow("momentum") << QList{step(60, 0, Phase::began, true, 1), momentum(100, true),
                                           momentum(0, false), step(0, 0, Phase::ended, true)};
        QTest::newRow("momentum alone") << QList{momentum(100, true), momentum(100, true)};
        // Without phases a pause ends the gesture: the second swipe navigates again and a
        // later vertical movement zooms instead of being swallowed.
        QTest::newRow("no phases, two swipes") << QList{
            bare(0.0, 30, 0, true),  bare(0.02, 30, 0, true, 1),  bare(0.04, 30, 0, true),
            bare(0.5, -30, 0, true), bare(0.52, -30, 0, true, 0), bare(0.54, -30, 0, true)};
        QTest::newRow("no phases, then vertical")
            << QList{bare(0.0, 60, 0, true, 1), bare(0.02, 0, 10, true), bare(1.0, 0, 10, false)};
        QTest::newRow("no phases, no pause")
            << QList{bare(0.0, 60, 0, true, 1), bare(0.2, 60, 0, true), bare(0.4, 60, 0, true)};
    }
    void swipes()
    {
        QFETCH(QList<SwipeStep>, steps);
        SwipeRecognizer r;
        for (int i = 0; i < steps.size(); ++i) {
            const auto out = r.handle(steps[i].event, true);
            const QByteArray where = "step " + QByteArray::number(i);
            QVERIFY2(out.consumed == steps[i].consumed, where);
            QVERIFY2(out.navigateForward.has_value() == (steps[i].nav >= 0), where);
            if (out.navigateForward)
                QVERIFY2(*out.navigateForward == (steps[i].nav == 1), where);
        }
    }

    void pressTracker()
    {
        PressTracker t;
        QVERIFY(!t.move({100, 100})); // no press yet
        QVERIFY(!t.release());
        t.press({10, 10});
        QVERIFY(!t.move({13, 7}));
        QVERIFY(!t.hasDragged());
        QCOMPARE(t.release()->wasClick, true);
        QVERIFY(!t.isPressed());
        QVERIFY(!t.move({100, 100}));
        QVERIFY(!t.release());

        t.press({10, 10});
        QVERIFY(!t.move({12, 10}));
        QCOMPARE(t.move({14, 10}), QPointF(4, 0)); // the held-back travel comes with the first pan
        QCOMPARE(t.move({15, 12}), QPointF(1, 2));
        QCOMPARE(t.move({10, 10}), QPointF(-5, -2)); // back near the press point: still a drag
        QCOMPARE(t.release()->wasClick, false);

        QVERIFY(!clickGoesForward(99.5, 100));
        QVERIFY(!clickGoesForward(100, 100));
        QVERIFY(clickGoesForward(100.5, 100));
    }

    void tiles_data()
    {
        QTest::addColumn<Tiles>("c");
        QTest::newRow("first tile") << Tiles{40000, 10000, 1677, 6, 0, 0, 1679};
        QTest::newRow("last tile") << Tiles{40000, 10000, 1677, 6, 5, 8385, 1615};
        QTest::newRow("huge rows, next to last") << Tiles{70000000, 10, 1, 10, 8, 8, 2};
        QTest::newRow("exact fit") << Tiles{67108864, 3, 1, 3, 2, 2, 1};
        QTest::newRow("unknown row size") << Tiles{0, 100, 67108864, 1, 0, 0, 100};
        QTest::newRow("no rows") << Tiles{40000, 0, 1677, 0, 0, 0, 0};
    }
    void tiles()
    {
        QFETCH(Tiles, c);
        QCOMPARE(rowsPerTile(c.bytesPerRow), c.rows);
        QCOMPARE(tileCount(c.height, c.bytesPerRow), c.count);
        const TileRows t = tileRows(c.index, c.height, c.bytesPerRow);
        QCOMPARE(t.first, c.first);
        QCOMPARE(t.count, c.rowCount);
    }
};

QTEST_GUILESS_MAIN(TestZoomModel)
#include "tst_zoommodel.moc"
