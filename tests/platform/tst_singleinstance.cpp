#include "platform/activation/WindowActivation.h"
#include "platform/instance/SingleInstance.h"

#include <QLocalSocket>
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

    // The launch's activation token travels with the files; one that could not be passed on
    // safely, or a message from an instance that sends none, arrives as no token.
    void activationTokenTravelsWithTheFiles_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("token");
        const QByteArray file = "file:///photos/a.jpg\n";
        QTest::newRow("startup id") << "x-orva-activation:launcher-42_TIME1234\n" + file + '\n'
                                    << QByteArray("launcher-42_TIME1234");
        QTest::newRow("none (older launch)") << file + '\n' << QByteArray();
        QTest::newRow("space") << "x-orva-activation:a b\n" + file + '\n' << QByteArray();
        QTest::newRow("quote") << "x-orva-activation:a\"b\n" + file + '\n' << QByteArray();
        QTest::newRow("not ASCII") << "x-orva-activation:caf\xe9\n" + file + '\n' << QByteArray();
        QTest::newRow("too long") << "x-orva-activation:" + QByteArray(513, 'x') + '\n' + file +
                                         '\n'
                                  << QByteArray();
    }
    void activationTokenTravelsWithTheFiles()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, token);
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("orva.socket"));
        SingleInstance running(name);
        QVERIFY(running.listen());
        QSignalSpy received(&running, &SingleInstance::filesReceived);
        QLocalSocket raw;
        raw.connectToServer(name);
        QVERIFY(raw.waitForConnected());
        raw.write(message);
        QVERIFY(received.wait());
        QCOMPARE(received.first().at(0).value<QList<QUrl>>(),
                 QList<QUrl>{QUrl(QStringLiteral("file:///photos/a.jpg"))});
        QCOMPARE(received.first().at(1).toByteArray(), token);
        if (!token.isEmpty()) { // and the same through handOff()
            QVERIFY(SingleInstance(name).handOff({}, token));
            QVERIFY(received.wait());
            QCOMPARE(received.last().at(1).toByteArray(), token);
        }
    }

    // The launch time in an X11 startup id is what lets the window manager raise the window.
    void startupIdCarriesTheLaunchTime()
    {
        QCOMPARE(startupIdTime("launcher-42-host_TIME1234"), 1234u);
        QCOMPARE(startupIdTime("a_TIME1_TIME99"), 99u);
        for (const char *none :
             {"launcher-42", "x_TIME", "x_TIMEnow", "x_TIME-5", "x_TIME99999999999"})
            QCOMPARE(startupIdTime(none), 0u);
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
