#include "platform/memory/MemoryPressureMonitor.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace orva;

class TestMemoryPressure : public QObject {
    Q_OBJECT

private slots:
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

    // The limit that binds is the process's own group's or an enclosing one's, not the
    // root's (which has none); usage is the own group's.
    void ownControlGroup_data()
    {
        QTest::addColumn<QByteArray>("selfCgroup");
        QTest::addColumn<qint64>("limit"); // -1: none
        QTest::addColumn<qint64>("usage"); // -1: none
        QTest::newRow("v2, own group limited")
            << QByteArray("0::/user.slice/app.scope\n") << 3000LL << 1200LL;
        QTest::newRow("v2, enclosing group limited")
            << QByteArray("0::/user.slice/other.scope\n") << 5000LL << 700LL;
        QTest::newRow("v2, at the root") << QByteArray("0::/\n") << -1LL << -1LL;
        QTest::newRow("v1 memory controller")
            << QByteArray("12:pids:/x\n4:cpu,memory:/job\n0::/user.slice/app.scope\n") << 9000LL
            << 100LL;
        QTest::newRow("not in a group") << QByteArray() << -1LL << -1LL;
    }
    void ownControlGroup()
    {
        QFETCH(QByteArray, selfCgroup);
        QFETCH(qint64, limit);
        QFETCH(qint64, usage);
        QTemporaryDir root;
        const auto put = [&](const QString &relative, const QByteArray &value) {
            const QString path = root.filePath(relative);
            QDir().mkpath(QFileInfo(path).path());
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(value + "\n");
        };
        put(QStringLiteral("memory.max"), "max");
        put(QStringLiteral("user.slice/memory.max"), "5000");
        put(QStringLiteral("user.slice/app.scope/memory.max"), "3000");
        put(QStringLiteral("user.slice/app.scope/memory.current"), "1200");
        put(QStringLiteral("user.slice/other.scope/memory.max"), "max");
        put(QStringLiteral("user.slice/other.scope/memory.current"), "700");
        put(QStringLiteral("memory/job/memory.limit_in_bytes"), "9000");
        put(QStringLiteral("memory/job/memory.usage_in_bytes"), "100");
        const auto got = MemoryPressureMonitor::cgroupMemory(selfCgroup, root.path());
        QCOMPARE(got.limit, limit < 0 ? std::nullopt : std::optional(limit));
        QCOMPARE(got.usage, usage < 0 ? std::nullopt : std::optional(usage));
    }
};

QTEST_GUILESS_MAIN(TestMemoryPressure)
#include "tst_memorypressure.moc"
