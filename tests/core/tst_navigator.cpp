// The navigator mini-map's geometry and when it is shown, without widgets.
#include "core/state/AppState.h"
#include "core/view/Navigator.h"
#include "support/TestServices.h"

#include <QtTest>

using namespace orva;
using namespace orva::test;

class TestNavigator : public QObject {
    Q_OBJECT

private slots:
    // Visible rectangles have their origin at the image's bottom-left; frames are top-down.
    void visibleFrame_data()
    {
        QTest::addColumn<QRectF>("visible");
        QTest::addColumn<QRectF>("frame");
        QTest::newRow("whole image") << QRectF(0, 0, 1, 1) << QRectF(0, 0, 150, 100);
        QTest::newRow("bottom-left quarter") << QRectF(0, 0, 0.5, 0.5) << QRectF(0, 50, 75, 50);
        QTest::newRow("top-right quarter") << QRectF(0.5, 0.5, 0.5, 0.5) << QRectF(75, 0, 75, 50);
        QTest::newRow("full width, 40% of the height")
            << QRectF(0, 0.3, 1, 0.4) << QRectF(0, 30, 150, 40);
        QTest::newRow("actual size of 24 MP in 1920 x 1080")
            << QRectF(0.34, 0.365, 0.32, 0.27) << QRectF(51, 36.5, 48, 27);
    }
    void visibleFrame()
    {
        QFETCH(QRectF, visible);
        QFETCH(QRectF, frame);
        const QRectF got = navigator::visibleFrame(QSizeF(150, 100), visible);
        QVERIFY2(qAbs(got.x() - frame.x()) < 1e-9 && qAbs(got.y() - frame.y()) < 1e-9 &&
                     qAbs(got.width() - frame.width()) < 1e-9 &&
                     qAbs(got.height() - frame.height()) < 1e-9,
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(got.x())
                                .arg(got.y())
                                .arg(got.width())
                                .arg(got.height())));
    }

    // y turns upwards; a drag that leaves the map is held at its edge, never beyond.
    void scrollTargets_data()
    {
        QTest::addColumn<QPointF>("press");
        QTest::addColumn<QPointF>("target");
        QTest::newRow("centre") << QPointF(75, 50) << QPointF(0.5, 0.5);
        QTest::newRow("top edge") << QPointF(75, 0) << QPointF(0.5, 1);
        QTest::newRow("bottom-left corner") << QPointF(0, 100) << QPointF(0, 0);
        QTest::newRow("left of the map") << QPointF(-40, 25) << QPointF(0, 0.75);
        QTest::newRow("below the map") << QPointF(30, 180) << QPointF(0.2, 0);
        QTest::newRow("above and right") << QPointF(400, -60) << QPointF(1, 1);
    }
    void scrollTargets()
    {
        QFETCH(QPointF, press);
        QFETCH(QPointF, target);
        QCOMPARE(navigator::scrollTargetAt(press, QSizeF(150, 100)), target);
    }

    void visibility_data()
    {
        QTest::addColumn<bool>("hasImage");
        QTest::addColumn<QRectF>("visible");
        QTest::addColumn<bool>("dragging");
        QTest::addColumn<bool>("shown");
        QTest::newRow("whole image") << true << QRectF(0, 0, 1, 1) << false << false;
        QTest::newRow("0.99 wide is whole") << true << QRectF(0, 0, 0.99, 1) << false << false;
        QTest::newRow("0.989 wide") << true << QRectF(0, 0, 0.989, 1) << false << true;
        QTest::newRow("0.989 high") << true << QRectF(0, 0, 1, 0.989) << false << true;
        QTest::newRow("dragging back to fit") << true << QRectF(0, 0, 1, 1) << true << true;
        QTest::newRow("no image") << false << QRectF(0, 0, 0.2, 0.2) << true << false;
    }
    void visibility()
    {
        QFETCH(bool, hasImage);
        QFETCH(QRectF, visible);
        QFETCH(bool, dragging);
        QFETCH(bool, shown);
        QCOMPARE(navigator::isShown(hasImage, visible, dragging), shown);
    }

    // 12 points from the bottom-right corner, 60 more while the thumbnail strip takes the
    // bottom (enabled, and more than one image in the folder).
    void placementAboveTheStrip()
    {
        TestServices t;
        AppState s(t.services);
        QVERIFY(!navigator::isShownFor(s));
        const QList<QUrl> two{QUrl::fromLocalFile(QStringLiteral("/p/a.jpg")),
                              QUrl::fromLocalFile(QStringLiteral("/p/b.jpg"))};
        s.setCurrentURL(two.first());
        s.setShowThumbnailBar(true);
        s.setImageFiles(two.mid(0, 1));
        QCOMPARE(navigator::bottomInsetFor(s), 12.0);
        s.setImageFiles(two);
        QCOMPARE(navigator::bottomInsetFor(s), 72.0);
        s.setShowThumbnailBar(false);
        QCOMPARE(navigator::bottomInsetFor(s), 12.0);
        QCOMPARE(navigator::placement(QRectF(0, 0, 800, 600), QSizeF(150, 100), 12),
                 QRectF(638, 488, 150, 100));
        QCOMPARE(navigator::placement(QRectF(0, 20, 785, 565), QSizeF(37.5, 150), 72),
                 QRectF(735.5, 363, 37.5, 150));

        // Shown for a zoomed image; not for a file that failed to load.
        auto image = std::make_shared<DisplayImage>();
        image->pointSize = QSizeF(6000, 4000);
        s.setCurrentImage(DecodedImage{image, std::nullopt, image, 1.0});
        s.setVisibleRect(QRectF(0.2, 0.2, 0.32, 0.27));
        QVERIFY(navigator::isShownFor(s));
        s.setLoadFailed(true);
        QVERIFY(!navigator::isShownFor(s));
    }
};

QTEST_GUILESS_MAIN(TestNavigator)
#include "tst_navigator.moc"
