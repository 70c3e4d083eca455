#include "platform/pointer/QtPointerEvents.h"

#include <QGuiApplication>
#include <QWindow>
#include <QtTest>

using namespace orva;

class TestPointerEvents : public QObject {
    Q_OBJECT

private slots:
    void movementsNameTheirWindowAndBringThePointerBack()
    {
        QtPointerEvents pointer;
        QWindow a, b;
        for (QWindow *w : {&a, &b}) {
            w->resize(200, 200);
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w));
        }
        QList<QWindow *> seen;
        auto monitor = pointer.addMouseMovedMonitor([&seen](QWindow *w) { seen << w; });

        QTest::mouseMove(&b, QPoint(20, 20));
        QTest::mouseMove(&a, QPoint(30, 30));
        QCOMPARE(seen, (QList<QWindow *>{&b, &a}));

        pointer.hidePointerUntilMouseMoves();
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BlankCursor);
        QTest::mouseMove(&a, QPoint(80, 90));
        QVERIFY(!QGuiApplication::overrideCursor());

        monitor.reset();
        QTest::mouseMove(&a, QPoint(10, 10));
        QCOMPARE(seen.size(), 3);
    }
};

QTEST_MAIN(TestPointerEvents)
#include "tst_pointerevents.moc"
