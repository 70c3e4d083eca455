#include "platform/instance/SingleInstance.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

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
        const QStringList files{QStringLiteral("/photos/a b.jpg"), QStringLiteral("/photos/ç.png")};
        QVERIFY(later.handOff(files));
        QVERIFY(received.wait());
        QCOMPARE(received.first().first().toStringList(), files);

        QVERIFY(SingleInstance(name).handOff({}));
        QVERIFY(received.wait());
        QCOMPARE(received.last().first().toStringList(), QStringList());
    }

    // A socket file left by a crashed instance does not keep the next one from listening.
    void staleSocketIsReplaced()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("orva.socket"));
        QFile leftover(name);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();
        SingleInstance next(name);
        QVERIFY(!next.handOff({}));
        QVERIFY(next.listen());
        QVERIFY(SingleInstance(name).handOff({}));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
