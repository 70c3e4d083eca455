#include "core/runtime/Scheduler.h"
#include "support/VirtualScheduler.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

using namespace orva;
using orva::test::VirtualScheduler;

class TestScheduler : public QObject {
    Q_OBJECT

private slots:
    // A debounce restarted by replacement runs once, 0.3 s after the last restart.
    void debounceRunsOnceAfterTheLastRestart()
    {
        VirtualScheduler clock;
        ScheduledAction rescan;
        int runs = 0;
        for (int i = 0; i < 5; ++i) {
            rescan = clock.after(0.3, [&] { ++runs; });
            clock.advance(0.1);
        }
        QCOMPARE(runs, 0);
        clock.advance(0.19);
        QCOMPARE(runs, 0);
        clock.advance(0.01);
        QCOMPARE(runs, 1);
        clock.advance(10);
        QCOMPARE(runs, 1);
        QVERIFY(!rescan.isPending());
    }

    void droppedOrCancelledHandlesNeverRun()
    {
        VirtualScheduler clock;
        int runs = 0;
        {
            ScheduledAction a = clock.after(1, [&] { ++runs; });
            QVERIFY(a.isPending());
        }
        ScheduledAction b = clock.after(1, [&] { ++runs; });
        b.cancel();
        QVERIFY(!b.isPending());
        clock.advance(2);
        QCOMPARE(runs, 0);
        QCOMPARE(clock.pendingCount(), 0);
    }

    void qtSchedulerRunsOnTheMainThreadAndHonoursReplacement()
    {
        QtScheduler scheduler;
        const double start = scheduler.now();
        int first = 0;
        int second = 0;
        QThread *ranOn = nullptr;
        ScheduledAction handle = scheduler.after(0.01, [&] { ++first; });
        handle = scheduler.after(0.02, [&] {
            ++second;
            ranOn = QThread::currentThread();
        });
        QTRY_COMPARE(second, 1);
        QCOMPARE(first, 0);
        QCOMPARE(ranOn, QThread::currentThread());
        QVERIFY(scheduler.now() - start >= 0.02);
        QVERIFY(!handle.isPending());
    }

    void qtSchedulerDestroyedBeforeFiringRunsNothing()
    {
        int runs = 0;
        ScheduledAction handle;
        {
            QtScheduler scheduler;
            handle = scheduler.after(0, [&] { ++runs; });
        }
        QtScheduler witness;
        bool witnessRan = false;
        ScheduledAction w = witness.after(0.01, [&] { witnessRan = true; });
        QTRY_VERIFY(witnessRan);
        QCOMPARE(runs, 0);
    }
};

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
