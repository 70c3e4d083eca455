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

    // Writes stay silent while the file is open; closing it after writing is one batch,
    // so a copy that has finished or a save in place is noticed. Reading raises nothing.
    void onlyClosingAfterWritingRaisesABatch()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString existing = dir.filePath(QStringLiteral("photo.jpg"));
        QVERIFY(touch(existing, "old"));
        int batches = 0;
        auto watcher = factory_.watch(QUrl::fromLocalFile(dir.path()), [&] { ++batches; });
        QVERIFY(watcher);

        QFile file(existing);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.write("rewritten in place") > 0);
        QVERIFY(file.flush());
        deliverPending();
        QCOMPARE(batches, 0);
        file.close();
        QTRY_COMPARE(batches, 1);

        QFile reader(existing);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        QVERIFY(!reader.readAll().isEmpty());
        reader.close();
        deliverPending();
        QCOMPARE(batches, 1);
        QVERIFY(watcher->isWatching());
    }

    // Whatever happens to the folder itself raises a batch, and the watch then says it no
    // longer covers the folder at that path, so its owner can watch again.
    void losingTheFolderIsNoticed_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("renamed") << QStringLiteral("renamed");
        QTest::newRow("deleted") << QStringLiteral("deleted");
        QTest::newRow("replaced by a new folder") << QStringLiteral("replaced");
        QTest::newRow("replaced by a folder moved in") << QStringLiteral("moved in");
    }
    void losingTheFolderIsNoticed()
    {
        QFETCH(QString, change);
        QTemporaryDir parent;
        QVERIFY(parent.isValid());
        QDir root(parent.path());
        QVERIFY(root.mkdir(QStringLiteral("album")));
        QVERIFY(root.mkdir(QStringLiteral("other")));
        int batches = 0;
        auto watcher = factory_.watch(QUrl::fromLocalFile(root.filePath(QStringLiteral("album"))),
                                      [&] { ++batches; });
        QVERIFY(watcher);
        QVERIFY(watcher->isWatching());

        if (change == u"deleted") {
            QVERIFY(root.rmdir(QStringLiteral("album")));
        } else {
            QVERIFY(root.rename(QStringLiteral("album"), QStringLiteral("album.old")));
            if (change == u"replaced")
                QVERIFY(root.mkdir(QStringLiteral("album")));
            else if (change == u"moved in")
                QVERIFY(root.rename(QStringLiteral("other"), QStringLiteral("album")));
        }
        QTRY_VERIFY(batches >= 1);
        QVERIFY(!watcher->isWatching());
        // Destroying after the kernel dropped a deleted folder's watch must be harmless.
        watcher.reset();
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
