#include "platform/instance/SingleInstance.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <barrier>
#include <memory>
#include <vector>

using namespace orva;

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void laterLaunchHandsItsFilesOver()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("orva.socket"));
        SingleInstance running(name);
        QVERIFY(!running.handOff({})); // nobody is listening yet
        QVERIFY(running.listen());
        QSignalSpy received(&running, &SingleInstance::filesReceived);

        SingleInstance later(name);
        // Any bytes a file name may hold arrive unchanged, the ones that are not UTF-8 too.
        QUrl odd;
        odd.setScheme(QStringLiteral("file"));
        odd.setPath(QStringLiteral("/photos/caf%E9 %231.png"), QUrl::TolerantMode);
        const QList<QUrl> files{QUrl::fromLocalFile(QStringLiteral("/photos/a b.jpg")),
                                QUrl::fromLocalFile(QStringLiteral("/photos/ç\n.png")), odd};
        QVERIFY(later.handOff(files));
        QVERIFY(received.wait());
        const auto got = received.first().first().value<QList<QUrl>>();
        QCOMPARE(got, files);
        QCOMPARE(got.last().path(QUrl::FullyEncoded), odd.path(QUrl::FullyEncoded));

        QVERIFY(SingleInstance(name).handOff({}));
        QVERIFY(received.wait());
        QCOMPARE(received.last().first().value<QList<QUrl>>(), QList<QUrl>());
    }

    // A socket file left by a crashed instance does not keep the next one from listening;
    // a live instance's socket is never taken over.
    void onlyDeadSocketsAreReplaced()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("orva.socket"));
        QFile leftover(name);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();
        SingleInstance next(name);
        QVERIFY(!next.handOffOrServe({}));

        SingleInstance late(name); // found nobody a moment ago, then tries to serve
        QVERIFY(!late.listen());
        QSignalSpy received(&next, &SingleInstance::filesReceived);
        QVERIFY(SingleInstance(name).handOff({}));
        QVERIFY(received.wait()); // still reaches the first instance
    }

    // Launches started together: exactly one serves, every other one hands over to it.
    void racingLaunchesElectOneServer()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("orva.socket"));
        constexpr int launches = 6;
        std::barrier start(launches);
        std::barrier finished(launches); // servers stay up until everyone has launched
        std::atomic<int> served = 0;
        std::atomic<int> handedOver = 0;
        std::vector<std::unique_ptr<QThread>> threads;
        for (int i = 0; i < launches; ++i) {
            threads.emplace_back(QThread::create([&] {
                SingleInstance instance(name);
                start.arrive_and_wait();
                (instance.handOffOrServe({}) ? handedOver : served)++;
                finished.arrive_and_wait();
            }));
            threads.back()->start();
        }
        for (auto &t : threads)
            QVERIFY(t->wait(30000));
        QCOMPARE(int(served), 1);
        QCOMPARE(int(handedOver), launches - 1);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
