#include "platform/watch/InotifyDirectoryWatcher.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace orva;

namespace {

bool touch(const QString &path, const QByteArray &content = {})
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Runs the event loop until an iteration finds nothing to do. inotify queues events
// inside the syscall that causes them, so anything a change raised is delivered by now.
void deliverPending()
{
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    for (int i = 0; i < 1000 && dispatcher->processEvents(QEventLoop::AllEvents); ++i) {
    }
}

} // namespace

class TestDirectoryWatcher : public QObject {
    Q_OBJECT

private:
    InotifyDirectoryWatcherFactory factory_;

private slots:
    void entryChangesRaiseOneCallbackPerBatch()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        int batches = 0;
        const QUrl url = QUrl::fromLocalFile(dir.path());
        auto watcher = factory_.watch(url, [&] { ++batches; });
        QVERIFY(watcher);
        QCOMPARE(watcher->directory(), url);

        QVERIFY(touch(dir.filePath(QStringLiteral("a.jpg"))));
        QTRY_COMPARE(batches, 1);
        // Also shows deliverPending() really delivers, which the write test relies on.
        QVERIFY(touch(dir.filePath(QStringLiteral("b.jpg"))));
        deliverPending();
        QCOMPARE(batches, 2);

        QVERIFY(QFile::rename(dir.filePath(QStringLiteral("a.jpg")),
                              dir.filePath(QStringLiteral("c.jpg"))));
        QTRY_COMPARE(batches, 3);
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("c.jpg"))));
        QTRY_COMPARE(batches, 4);

        // More events than one read() takes: all of them must be drained in one go, or
        // the still-readable descriptor fires again.
        for (int i = 0; i < 300; ++i)
            QVERIFY(touch(dir.filePath(QStringLiteral("burst-%1.png").arg(i))));
        deliverPending();
        QCOMPARE(batches, 5);
    }

    void writingIntoAFileRaisesNothing()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString existing = dir.filePath(QStringLiteral("photo.jpg"));
        QVERIFY(touch(existing, "old"));
        int batches = 0;
        auto watcher = factory_.watch(QUrl::fromLocalFile(dir.path()), [&] { ++batches; });
        QVERIFY(watcher);

        QVERIFY(touch(existing, "rewritten in place"));
        deliverPending();
        QCOMPARE(batches, 0);
        // The watch is still live: the next entry change is the only batch.
        QVERIFY(touch(dir.filePath(QStringLiteral("marker"))));
        QTRY_COMPARE(batches, 1);
        deliverPending();
        QCOMPARE(batches, 1);
    }

    void renamingOrDeletingTheFolderRaisesACallback_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::newRow("renamed") << true;
        QTest::newRow("deleted") << false;
    }

    void renamingOrDeletingTheFolderRaisesACallback()
    {
        QFETCH(bool, rename);
        QTemporaryDir parent;
        QVERIFY(parent.isValid());
        QDir root(parent.path());
        QVERIFY(root.mkdir(QStringLiteral("album")));
        int batches = 0;
        auto watcher = factory_.watch(QUrl::fromLocalFile(root.filePath(QStringLiteral("album"))),
                                      [&] { ++batches; });
        QVERIFY(watcher);

        if (rename)
            QVERIFY(root.rename(QStringLiteral("album"), QStringLiteral("renamed")));
        else
            QVERIFY(root.rmdir(QStringLiteral("album")));
        QTRY_VERIFY(batches >= 1);
        // Destroying after the kernel dropped a deleted folder's watch must be harmless.
        watcher.reset();
    }

    void unwatchablePathsGiveNoWatcher()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("file.jpg"));
        QVERIFY(touch(file));
        const auto never = [] { QFAIL("no callback expected"); };
        QVERIFY(
            !factory_.watch(QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing"))), never));
        QVERIFY(!factory_.watch(QUrl::fromLocalFile(file), never));
        QVERIFY(!factory_.watch(QUrl(QStringLiteral("https://example.com/photos/")), never));
        QVERIFY(!factory_.watch(QUrl(), never));
    }

    // The usual reaction to a change is to replace the watcher from inside the callback;
    // run under ASan this catches any use of the old watcher after it is gone.
    void callbackMayReplaceItsOwnWatcher()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QUrl url = QUrl::fromLocalFile(dir.path());
        std::unique_ptr<DirectoryWatcher> watcher;
        int batches = 0;
        std::function<void()> onChange;
        onChange = [&] {
            watcher = factory_.watch(url, onChange);
            ++batches;
        };
        watcher = factory_.watch(url, onChange);
        QVERIFY(watcher);

        QVERIFY(touch(dir.filePath(QStringLiteral("one"))));
        QTRY_COMPARE(batches, 1);
        QVERIFY(watcher);
        QVERIFY(touch(dir.filePath(QStringLiteral("two"))));
        QTRY_COMPARE(batches, 2);

        onChange = [&] {
            watcher.reset();
            ++batches;
        };
        watcher = factory_.watch(url, onChange);
        QVERIFY(touch(dir.filePath(QStringLiteral("three"))));
        QTRY_COMPARE(batches, 3);
        QVERIFY(!watcher);
    }
};

QTEST_GUILESS_MAIN(TestDirectoryWatcher)
#include "tst_directorywatcher.moc"
