#include "core/view/ZoomModel.h"

#include <QtTest>

#include <cmath>

using namespace orva::zoom;
using Phase = SwipeRecognizer::Phase;

namespace {

// One wheel event fed to a recognizer and what it must produce; nav is -1 for no
// navigation, 0 for back, 1 for forward.
struct SwipeStep {
    SwipeRecognizer::Event event;
    bool fitMode = true;
    bool consumed = false;
    int nav = -1;
};

SwipeStep step(double dx, double dy, Phase phase, bool consumed, int nav = -1)
{
    SwipeStep s;
    s.event.dx = dx;
    s.event.dy = dy;
    s.event.precise = true;
    s.event.phase = phase;
    s.consumed = consumed;
    s.nav = nav;
    return s;
}

SwipeStep momentum(double dx, bool consumed)
{
    SwipeStep s = step(dx, 0, Phase::none, consumed);
    s.event.momentum = true;
    return s;
}

bool near(double a, double b) { return std::abs(a - b) < 1e-9; }

bool near(const QRectF &a, const QRectF &b)
{
    return near(a.x(), b.x()) && near(a.y(), b.y()) && near(a.width(), b.width()) &&
           near(a.height(), b.height());
}

} // namespace

Q_DECLARE_METATYPE(ZoomRequest)
Q_DECLARE_METATYPE(QList<SwipeStep>)

class TestZoomModel : public QObject {
    Q_OBJECT

private slots:
    void fitMagnificationNeverEnlarges_data()
    {
        QTest::addColumn<QSizeF>("document");
        QTest::addColumn<QSizeF>("viewport");
        QTest::addColumn<double>("expected"); // -1: absent
        QTest::newRow("wide image") << QSizeF(1000, 500) << QSizeF(800, 600) << 0.8;
        QTest::newRow("tall image") << QSizeF(500, 1200) << QSizeF(800, 600) << 0.5;
        QTest::newRow("small image") << QSizeF(300, 200) << QSizeF(800, 600) << 1.0;
        QTest::newRow("empty document") << QSizeF(0, 200) << QSizeF(800, 600) << -1.0;
        QTest::newRow("collapsed view") << QSizeF(300, 200) << QSizeF(800, -1) << -1.0;
    }
    void fitMagnificationNeverEnlarges()
    {
        QFETCH(QSizeF, document);
        QFETCH(QSizeF, viewport);
        QFETCH(double, expected);
        const auto m = fitMagnification(document, viewport);
        QCOMPARE(m.value_or(-1), expected);
    }

    void zoomRequests_data()
    {
        QTest::addColumn<ZoomRequest>("request");
        QTest::addColumn<double>("current");
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("magnification");
        QTest::addColumn<bool>("fitMode");
        QTest::addColumn<bool>("anchored");
        QTest::newRow("fit") << ZoomRequest::fit << 1.8 << 0.8 << 0.8 << true << false;
        QTest::newRow("in from fit") << ZoomRequest::zoomIn << 0.8 << 0.8 << 1.2 << false << true;
        QTest::newRow("in again") << ZoomRequest::zoomIn << 1.2 << 0.8 << 1.8 << false << true;
        QTest::newRow("in to maximum")
            << ZoomRequest::zoomIn << 15.0 << 0.8 << 20.0 << false << true;
        QTest::newRow("out") << ZoomRequest::zoomOut << 1.8 << 0.8 << 1.2 << false << true;
        QTest::newRow("out at minimum")
            << ZoomRequest::zoomOut << 0.8 << 0.8 << 0.8 << false << true;
        QTest::newRow("actual size")
            << ZoomRequest::actualSize << 1.8 << 0.8 << 1.0 << false << true;
        QTest::newRow("actual size, small image")
            << ZoomRequest::actualSize << 3.0 << 1.0 << 1.0 << false << true;
    }
    void zoomRequests()
    {
        QFETCH(ZoomRequest, request);
        QFETCH(double, current);
        QFETCH(double, minimum);
        QFETCH(double, magnification);
        QFETCH(bool, fitMode);
        QFETCH(bool, anchored);
        const RequestResult r = applyZoomRequest(request, current, minimum);
        QVERIFY2(near(r.magnification, magnification),
                 qPrintable(QString::number(r.magnification)));
        QCOMPARE(r.fitMode, fitMode);
        QCOMPARE(r.anchored, anchored);
    }

    void wheelZoom_data()
    {
        QTest::addColumn<double>("current");
        QTest::addColumn<double>("dy");
        QTest::addColumn<bool>("precise");
        QTest::addColumn<double>("expected"); // -1: absent
        QTest::addColumn<bool>("fitMode");
        QTest::newRow("one notch") << 1.0 << 1.0 << false << 1.1 << false;
        QTest::newRow("ten trackpad points") << 1.0 << 10.0 << true << 1.05 << false;
        QTest::newRow("no delta") << 1.0 << 0.0 << false << -1.0 << false;
        QTest::newRow("negligible change") << 1.0 << 0.2 << true << -1.0 << false;
        QTest::newRow("out past minimum") << 0.85 << -1.0 << false << 0.8 << true;
        QTest::newRow("out past zero") << 2.0 << -20.0 << false << 0.8 << true;
        QTest::newRow("in at maximum") << 20.0 << 1.0 << false << -1.0 << false;
    }
    void wheelZoom()
    {
        QFETCH(double, current);
        QFETCH(double, dy);
        QFETCH(bool, precise);
        QFETCH(double, expected);
        QFETCH(bool, fitMode);
        const auto z = ::wheelZoom(current, dy, precise, 0.8);
        QCOMPARE(z.has_value(), expected >= 0);
        if (z) {
            QVERIFY(near(z->magnification, expected));
            QCOMPARE(z->fitMode, fitMode);
        }
    }

    void visibleFraction_data()
    {
        QTest::addColumn<QSizeF>("document");
        QTest::addColumn<QRectF>("clip");
        QTest::addColumn<QRectF>("expected"); // null: absent
        QTest::newRow("inside") << QSizeF(1000, 500) << QRectF(250, 100, 500, 250)
                                << QRectF(0.25, 0.2, 0.5, 0.5);
        QTest::newRow("larger than document")
            << QSizeF(1000, 500) << QRectF(-100, -50, 1200, 600) << QRectF(0, 0, 1, 1);
        QTest::newRow("empty document") << QSizeF(0, 0) << QRectF(0, 0, 10, 10) << QRectF();
    }
    void visibleFraction()
    {
        QFETCH(QSizeF, document);
        QFETCH(QRectF, clip);
        QFETCH(QRectF, expected);
        const auto f = ::visibleFraction(document, clip);
        QCOMPARE(f.has_value(), !expected.isNull());
        if (f)
            QVERIFY(near(*f, expected));
    }

    void scrollOriginCentresTarget()
    {
        QCOMPARE(scrollOriginForTarget({0.5, 0.5}, {1000, 500}, {400, 300}), QPointF(300, 100));
        QCOMPARE(scrollOriginForTarget({0.25, 1}, {1000, 500}, {400, 300}), QPointF(50, 350));
    }

    void centredClip_data()
    {
        QTest::addColumn<QSizeF>("document");
        QTest::addColumn<QRectF>("clip");
        QTest::addColumn<QRectF>("expected");
        QTest::newRow("smaller both ways")
            << QSizeF(400, 300) << QRectF(0, 0, 800, 600) << QRectF(-200, -150, 800, 600);
        QTest::newRow("narrower only")
            << QSizeF(400, 900) << QRectF(0, 120, 800, 600) << QRectF(-200, 120, 800, 600);
        QTest::newRow("larger") << QSizeF(1000, 900) << QRectF(50, 120, 800, 600)
                                << QRectF(50, 120, 800, 600);
    }
    void centredClip()
    {
        QFETCH(QSizeF, document);
        QFETCH(QRectF, clip);
        QFETCH(QRectF, expected);
        QCOMPARE(::centredClip(clip, document), expected);
    }

    void swipes_data()
    {
        QTest::addColumn<QList<SwipeStep>>("steps");
        QTest::newRow("short") << QList{step(20, 0, Phase::began, true),
                                        step(20, 0, Phase::changed, true)};
        QTest::newRow("navigates once")
            << QList{step(20, 0, Phase::began, true), step(31, 0, Phase::changed, true, 1),
                     step(100, 0, Phase::changed, true), step(49, 0, Phase::changed, true),
                     step(0, 0, Phase::ended, true)};
        QTest::newRow("backwards") << QList{step(-51, 0, Phase::began, true, 0)};
        QTest::newRow("new gesture navigates again")
            << QList{step(60, 0, Phase::began, true, 1), step(60, 0, Phase::changed, true),
                     step(-60, 0, Phase::began, true, 0)};
        SwipeStep inverted = step(60, 0, Phase::began, true, 0);
        inverted.event.inverted = true;
        QTest::newRow("natural scrolling") << QList{inverted};
        QTest::newRow("vertical first")
            << QList{step(1, 5, Phase::began, false), step(60, 70, Phase::changed, false)};
        QTest::newRow("turns vertical")
            << QList{step(10, 0, Phase::began, true), step(1, 10, Phase::changed, true),
                     step(45, 50, Phase::changed, true, 1)};
        SwipeStep zoomed = step(60, 0, Phase::began, false);
        zoomed.fitMode = false;
        QTest::newRow("not in fit mode") << QList{zoomed};
        SwipeStep wheel = step(60, 0, Phase::none, false);
        wheel.event.precise = false;
        QTest::newRow("mouse wheel") << QList{wheel, wheel};
        QTest::newRow("momentum") << QList{step(60, 0, Phase::began, true, 1), momentum(100, true),
                                           momentum(0, false), step(0, 0, Phase::ended, true)};
        QTest::newRow("momentum alone") << QList{momentum(100, true), momentum(100, true)};
    }
    void swipes()
    {
        QFETCH(QList<SwipeStep>, steps);
        SwipeRecognizer r;
        for (int i = 0; i < steps.size(); ++i) {
            const SwipeStep &s = steps[i];
            const auto out = r.handle(s.event, s.fitMode);
            const QByteArray where = "step " + QByteArray::number(i);
            QVERIFY2(out.consumed == s.consumed, where.constData());
            QVERIFY2(out.navigateForward.has_value() == (s.nav >= 0), where.constData());
            if (out.navigateForward)
                QVERIFY2(*out.navigateForward == (s.nav == 1), where.constData());
        }
    }

    void pressWithinToleranceIsClick()
    {
        PressTracker t;
        t.press({10, 10});
        QVERIFY(!t.move({13, 7}));
        QVERIFY(!t.hasDragged());
        QCOMPARE(t.release()->wasClick, true);
        QVERIFY(!t.isPressed());
    }

    void pressBeyondToleranceDrags()
    {
        PressTracker t;
        t.press({10, 10});
        QVERIFY(!t.move({12, 10}));
        // The held-back travel is delivered with the first pan.
        QCOMPARE(t.move({14, 10}), QPointF(4, 0));
        QCOMPARE(t.move({15, 12}), QPointF(1, 2));
        // Returning near the press point is still a drag.
        QCOMPARE(t.move({10, 10}), QPointF(-5, -2));
        QCOMPARE(t.release()->wasClick, false);
    }

    void noPressNoEvents()
    {
        PressTracker t;
        QVERIFY(!t.move({100, 100}));
        QVERIFY(!t.release());
        t.press({0, 0});
        t.release();
        QVERIFY(!t.move({100, 100}));
        QVERIFY(!t.release());
    }

    void clickSide()
    {
        QVERIFY(!clickGoesForward(99.5, 100));
        QVERIFY(!clickGoesForward(100, 100));
        QVERIFY(clickGoesForward(100.5, 100));
    }

    void tiles_data()
    {
        QTest::addColumn<qint64>("bytesPerRow");
        QTest::addColumn<qint64>("height");
        QTest::addColumn<qint64>("rows");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("rowCount");
        QTest::newRow("first tile") << 40000LL << 10000LL << 1677LL << 6 << 0 << 0LL << 1679LL;
        QTest::newRow("last tile") << 40000LL << 10000LL << 1677LL << 6 << 5 << 8385LL << 1615LL;
        QTest::newRow("huge rows") << 70000000LL << 10LL << 1LL << 10 << 4 << 4LL << 3LL;
        QTest::newRow("huge rows, next to last")
            << 70000000LL << 10LL << 1LL << 10 << 8 << 8LL << 2LL;
        QTest::newRow("exact fit") << 67108864LL << 3LL << 1LL << 3 << 2 << 2LL << 1LL;
        QTest::newRow("unknown row size") << 0LL << 100LL << 67108864LL << 1 << 0 << 0LL << 100LL;
        QTest::newRow("no rows") << 40000LL << 0LL << 1677LL << 0 << 0 << 0LL << 0LL;
    }
    void tiles()
    {
        QFETCH(qint64, bytesPerRow);
        QFETCH(qint64, height);
        QFETCH(qint64, rows);
        QFETCH(int, count);
        QFETCH(int, index);
        QFETCH(qint64, first);
        QFETCH(qint64, rowCount);
        QCOMPARE(rowsPerTile(bytesPerRow), rows);
        QCOMPARE(tileCount(height, bytesPerRow), count);
        const TileRows t = tileRows(index, height, bytesPerRow);
        QCOMPARE(t.first, first);
        QCOMPARE(t.count, rowCount);
    }

    void windowFrameToFit_data()
    {
        QTest::addColumn<QSizeF>("image");
        QTest::addColumn<QRectF>("expected"); // null: absent
        // Scale = min(1920/6000, (1050-28)/4000, 1) = 0.2555: 1533 x (1022 + 28).
        QTest::newRow("larger than screen")
            << QSizeF(6000, 4000) << QRectF((1920 - 1533) / 2.0, 25, 1533, 1050);
        // Unscaled: 640 x (480 + 28), centred in the area below the menu bar.
        QTest::newRow("smaller than screen")
            << QSizeF(640, 480) << QRectF(640, 25 + (1050 - 508) / 2.0, 640, 508);
        // Scale 1022/2044 = 0.5 makes the width 500.5, which rounds away from zero.
        QTest::newRow("half rounds up")
            << QSizeF(1001, 2044) << QRectF((1920 - 501) / 2.0, 25, 501, 1050);
        QTest::newRow("empty image") << QSizeF(0, 480) << QRectF();
    }
    void windowFrameToFit()
    {
        QFETCH(QSizeF, image);
        QFETCH(QRectF, expected);
        const auto f = ::windowFrameToFit(image, QRectF(0, 25, 1920, 1050), QSizeF(0, 28));
        QCOMPARE(f.has_value(), !expected.isNull());
        if (f)
            QVERIFY2(near(*f, expected), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                        .arg(f->x())
                                                        .arg(f->y())
                                                        .arg(f->width())
                                                        .arg(f->height())));
    }
};

QTEST_GUILESS_MAIN(TestZoomModel)
#include "tst_zoommodel.moc"
