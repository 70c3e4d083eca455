#include "platform/memory/MemoryPressureMonitor.h"

#include <QtTest>

using namespace orva;

class TestMemoryPressure : public QObject {
    Q_OBJECT

private slots:
    void meminfoParsing()
    {
        const auto m = MemoryPressureMonitor::parseMeminfo(
            "MemTotal:       16000000 kB\nMemFree:  100 kB\nMemAvailable:    1200000 kB\n");
        QVERIFY(m);
        QCOMPARE(m->total, 16000000LL * 1024);
        QCOMPARE(m->available, 1200000LL * 1024);
        QVERIFY(!MemoryPressureMonitor::parseMeminfo("MemTotal: 5 kB\n")); // no MemAvailable
        QVERIFY(!MemoryPressureMonitor::parseMeminfo(QByteArray()));
    }

    // A container limit makes the machine's free memory irrelevant.
    void pressureThreshold_data()
    {
        QTest::addColumn<qint64>("available");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("limit"); // 0: none
        QTest::addColumn<qint64>("usage");
        QTest::addColumn<bool>("pressure");
        const qint64 GiB = 1LL << 30;
        QTest::newRow("plenty") << 8 * GiB << 16 * GiB << 0LL << 0LL << false;
        QTest::newRow("under a tenth") << GiB << 16 * GiB << 0LL << 0LL << true;
        QTest::newRow("cgroup nearly full")
            << 8 * GiB << 16 * GiB << 2 * GiB << 2 * GiB - GiB / 20 << true;
        QTest::newRow("cgroup roomy") << 8 * GiB << 16 * GiB << 2 * GiB << GiB << false;
        QTest::newRow("limit above RAM") << GiB << 16 * GiB << 64 * GiB << 0LL << true;
    }
    void pressureThreshold()
    {
        QFETCH(qint64, available);
        QFETCH(qint64, total);
        QFETCH(qint64, limit);
        QFETCH(qint64, usage);
        QFETCH(bool, pressure);
        QCOMPARE(MemoryPressureMonitor::isUnderPressure(
                     {available, total}, limit ? std::optional(limit) : std::nullopt,
                     limit ? std::optional(usage) : std::nullopt),
                 pressure);
    }
};

QTEST_GUILESS_MAIN(TestMemoryPressure)
#include "tst_memorypressure.moc"
