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

namespace {

// A running instance listening on a socket of the test's own.
struct Running {
    QTemporaryDir dir;
    QString name = dir.filePath(QStringLiteral("orva.socket"));
    SingleInstance instance{name};
    QSignalSpy received{&instance, &SingleInstance::filesReceived};
    QList<QUrl> files(int i) const { return received.at(i).at(0).value<QList<QUrl>>(); }
    QByteArray token(int i) const { return received.at(i).at(1).toByteArray(); }
};

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void laterLaunchHandsItsFilesOver()
    {
        Running r;
        QVERIFY(!r.instance.handOff({})); // nobody is listening yet
        QVERIFY(r.instance.listen());
        // Any bytes a file name may hold arrive unchanged, the ones that are not UTF-8 too.
        QUrl odd;
        odd.setScheme(QStringLiteral("file"));
        odd.setPath(QStringLiteral("/photos/caf%E9 %231.png"), QUrl::TolerantMode);
        const QList<QUrl> files{QUrl::fromLocalFile(QStringLiteral("/photos/a b.jpg")),
                                QUrl::fromLocalFile(QStringLiteral("/photos/ç\n.png")), odd};
        QVERIFY(SingleInstance(r.name).handOff(files));
        QVERIFY(r.received.wait());
        QCOMPARE(r.files(0), files);
        QCOMPARE(r.files(0).last().path(QUrl::FullyEncoded), odd.path(QUrl::FullyEncoded));
        QVERIFY(SingleInstance(r.name).handOff({}));
        QVERIFY(r.received.wait());
        QCOMPARE(r.files(1), QList<QUrl>());
    }

    // The launch's activation token travels with the files; one that could not be passed on
    // safely, or a message from an instance that sends none, arrives as no token.
    void activationTokenTravelsWithTheFiles_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<bool>("passed");
        QTest::newRow("startup id") << QByteArray("launcher-42_TIME1234") << true;
        QTest::newRow("none (older launch)") << QByteArray() << false;
        QTest::newRow("space") << QByteArray("a b") << false;
        QTest::newRow("quote") << QByteArray("a\"b") << false;
        QTest::newRow("not ASCII") << QByteArray("caf\xe9") << false;
        QTest::newRow("too long") << QByteArray(513, 'x') << false;
    }
    void activationTokenTravelsWithTheFiles()
    {
        QFETCH(QByteArray, token);
        QFETCH(bool, passed);
        Running r;
        QVERIFY(r.instance.listen());
        QLocalSocket raw;
        raw.connectToServer(r.name);
        QVERIFY(raw.waitForConnected());
        raw.write((token.isEmpty() ? "" : "x-orva-activation:" + token + '\n') +
                  "file:///photos/a.jpg\n\n");
        QVERIFY(r.received.wait());
        QCOMPARE(r.files(0), QList<QUrl>{QUrl(QStringLiteral("file:///photos/a.jpg"))});
        QCOMPARE(r.token(0), passed ? token : QByteArray());
        if (passed) { // and the same through handOff()
            QVERIFY(SingleInstance(r.name).handOff({}, token));
            QVERIFY(r.received.wait());
            QCOMPARE(r.token(1), token);
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
        Running r; // not listening: what a crash leaves is a socket file nobody serves
        QFile leftover(r.name);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();
        SingleInstance next(r.name);
        QVERIFY(!next.handOffOrServe({}));

        SingleInstance late(r.name); // found nobody a moment ago, then tries to serve
        QVERIFY(!late.listen());
        QSignalSpy received(&next, &SingleInstance::filesReceived);
        QVERIFY(SingleInstance(r.name).handOff({}));
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
