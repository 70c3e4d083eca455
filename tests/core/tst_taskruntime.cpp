#include "core/runtime/TaskRuntime.h"

#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <atomic>

#include <sys/resource.h>
#include <unistd.h>

using namespace orva;

class TestTaskRuntime : public QObject {
    Q_OBJECT

    QObject context_;

private slots:
    // Utility work must really run below the rest: QThread::LowPriority alone is a no-op
    // under Linux's default scheduler.
    void utilityWorkRunsAtALowerPriority()
    {
        TaskRuntime runtime;
        auto niceness = [&](TaskPriority priority) {
            std::optional<int> got;
            runtime
                .run(priority,
                     [](const CancellationToken &) { return getpriority(PRIO_PROCESS, gettid()); })
                .then(&context_, [&](const std::optional<int> &v) { got = v; });
            return QTest::qWaitFor([&] { return got.has_value(); }) ? *got : -100;
        };
        const int base = getpriority(PRIO_PROCESS, 0);
        QCOMPARE(niceness(TaskPriority::userInitiated), base);
        QCOMPARE(niceness(TaskPriority::utility), std::min(base + utilityNiceness, 19));
    }

    // Early and late awaiters get the same kept result, on the main thread.
    void resultIsSharedAndKept()
    {
        TaskRuntime runtime;
        QSemaphore release;
        std::atomic<int> runs = 0;
        Task<int> task = runtime.run(TaskPriority::userInitiated, [&](const CancellationToken &) {
            ++runs;
            release.acquire();
            return 42;
        });
        QList<int> got;
        QList<QThread *> threads;
        QObject context;
        for (int i = 0; i < 2; ++i)
            task.then(&context, [&](const std::optional<int> &v) {
                got << v.value_or(-1);
                threads << QThread::currentThread();
            });
        QCOMPARE(task.result(), std::nullopt);
        release.release();
        QTRY_COMPARE(got.size(), 2);
        QCOMPARE(got, (QList<int>{42, 42}));
        QVERIFY(task.isFinished());
        QCOMPARE(task.result(), std::optional(42));

        task.then(&context, [&](const std::optional<int> &v) { got << v.value_or(-1); });
        QCOMPARE(got.size(), 2); // delivered later, never inline
        QTRY_COMPARE(got.size(), 3);
        QCOMPARE(got.last(), 42);
        for (QThread *t : threads)
            QCOMPARE(t, QThread::currentThread());
        QCOMPARE(runs.load(), 1);
    }

    void cancelledBeforeStartNeverRuns()
    {
        TaskRuntime runtime(1, 1);
        QSemaphore blocker;
        auto busy = runtime.run(TaskPriority::userInitiated, [&](const CancellationToken &) {
            blocker.acquire();
            return true;
        });
        std::atomic<bool> ran = false;
        Task<int> task = runtime.run(TaskPriority::userInitiated, [&](const CancellationToken &) {
            ran = true;
            return 1;
        });
        task.cancel();
        blocker.release();
        QObject context;
        bool delivered = false;
        std::optional<int> value = 7;
        task.then(&context, [&](const std::optional<int> &v) {
            delivered = true;
            value = v;
        });
        QTRY_VERIFY(delivered);
        QCOMPARE(value, std::nullopt);
        QVERIFY(!ran);
        QVERIFY(task.isCancelled());
    }

    // Cooperative cancellation: the work sees it through its token and through the
    // thread's current token, and whatever it returns afterwards is dropped.
    void cancelWhileRunningDropsTheResult()
    {
        TaskRuntime runtime;
        QSemaphore started;
        std::atomic<bool> sawCurrent = false;
        Task<int> task = runtime.run(TaskPriority::utility, [&](const CancellationToken &token) {
            started.release();
            while (!token.isCancelled())
                QThread::yieldCurrentThread();
            sawCurrent = CancellationToken::current().isCancelled();
            return 5;
        });
        started.acquire();
        task.cancel();
        QCOMPARE(task.waitForResult(), std::nullopt);
        QVERIFY(sawCurrent);
        QVERIFY(!CancellationToken::current().isCancelled());
    }

    // A window closed while its decode runs must not receive the result.
    void destroyedContextReceivesNothing()
    {
        TaskRuntime runtime;
        QSemaphore release;
        Task<int> task = runtime.run(TaskPriority::userInitiated, [&](const CancellationToken &) {
            release.acquire();
            return 1;
        });
        bool called = false;
        auto *context = new QObject;
        task.then(context, [&](const std::optional<int> &) { called = true; });
        delete context;
        QObject witness;
        bool witnessCalled = false;
        task.then(&witness, [&](const std::optional<int> &) { witnessCalled = true; });
        release.release();
        QTRY_VERIFY(witnessCalled);
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(TestTaskRuntime)
#include "tst_taskruntime.moc"
