#include "core/listing/FolderListing.h"
#include "core/metadata/MetadataRows.h"
#include "core/state/AppState.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

using namespace orva;
using namespace orva::test;

namespace {

using Folder = TestFolder;

QStringList letters(int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << QString(QChar(u'a' + i)) + QStringLiteral(".jpg");
    return out;
}

QStringList names(const QList<QUrl> &urls)
{
    QStringList out;
    for (const QUrl &u : urls)
        out << u.fileName();
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

class TestNavigation : public QObject {
    Q_OBJECT

private slots:
    void openShowsTheFileThenListsItsFolder()
    {
        TestServices t;
        Folder f(letters(3));
        AppState s(t.services);
        QSignalSpy zoom(&s, &AppState::zoomActionChanged);
        s.open(f.url(QStringLiteral("b.jpg")));
        QCOMPARE(s.currentURL(), std::optional(f.url(QStringLiteral("b.jpg"))));
        QCOMPARE(s.imageFiles().size(), 1);
        QCOMPARE(s.zoomAction(), std::optional(ZoomAction::fit));
        QTRY_COMPARE(s.imageFiles().size(), 3);
        QCOMPARE(s.currentIndex(), 1);
        QCOMPARE(s.windowTitle(), QStringLiteral("b.jpg [2/3]"));
        QTRY_COMPARE(sourceFileOf(s.currentImage()), QStringLiteral("b.jpg"));
        QCOMPARE(s.loadFailed(), false);
        QVERIFY(s.directoryWatcher());
    }

    void aDecodeStartedAtLaunchIsTakenOverUnlessTheFileChanged()
    {
        for (const bool rewritten : {false, true}) {
            TestServices t;
            Folder f({QStringLiteral("a.jpg"), QStringLiteral("notes.txt")});
            QVERIFY(!AppState::startLoad(t.services, f.folder()));
            QVERIFY(!AppState::startLoad(t.services, f.url(QStringLiteral("notes.txt"))));
            const QUrl a = f.url(QStringLiteral("a.jpg"));
            std::optional<AppState::StartedLoad> started = AppState::startLoad(t.services, a);
            QVERIFY(started);
            t.tasks.waitForDone();
            QFile file(a.toLocalFile());
            QVERIFY(!rewritten || (file.open(QIODevice::Append) && file.write("x") == 1));
            file.close();
            AppState s(t.services);
            s.adoptLoad(*started);
            s.open(a);
            QTRY_COMPARE(sourceFileOf(s.currentImage()), QStringLiteral("a.jpg"));
            t.tasks.waitForDone();
            // The stale decode is dropped and the file decoded again.
            QCOMPARE(t.images.decodeCalls.load(), rewritten ? 2 : 1);
            QCOMPARE(started->task.isCancelled(), rewritten);
        }
    }

    void decodeFailureMarksTheLoadFailed()
    {
        TestServices t;
        t.images.failing += {QStringLiteral("a.jpg"), QStringLiteral("b.jpg")};
        t.images.reasons.insert(QStringLiteral("b.jpg"), DecodeFailure::damaged);
        Folder f({QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")});
        AppState s(t.services);
        openAndList(s, f, QStringLiteral("a.jpg"), 3);
        QTRY_VERIFY(s.loadFailed());
        QVERIFY(!s.currentImage());
        QCOMPARE(s.loadFailure(), std::optional(LoadFailure{f.url(QStringLiteral("a.jpg")),
                                                            DecodeFailure::unreadable}));
        // The reason follows each failed file, and goes with the first one that decodes.
        s.navigate(+1);
        QTRY_COMPARE(s.loadFailure(), std::optional(LoadFailure{f.url(QStringLiteral("b.jpg")),
                                                                DecodeFailure::damaged}));
        s.navigate(+1);
        QTRY_VERIFY(!s.loadFailed());
        QCOMPARE(s.loadFailure(), std::nullopt);
    }

    // A folder given to open: its first image in the sort order, or the failure notice.
    void openingAFolder_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("descending");
        QTest::addColumn<QString>("first");
        const auto l = [](const char *a, const char *b = nullptr, const char *c = nullptr) {
            QStringList out;
            for (const char *n : {a, b, c})
                if (n)
                    out << QString::fromLatin1(n);
            return out;
        };
        QTest::newRow("by name") << l("b10.jpg", "b9.jpg", "notes.txt") << false
                                 << QStringLiteral("b9.jpg");
        QTest::newRow("descending")
            << l("a.jpg", "c.png", "b.gif") << true << QStringLiteral("c.png");
        QTest::newRow("no images") << l("notes.txt") << false << QString();
        QTest::newRow("empty") << QStringList{} << false << QString();
    }
    void openingAFolder()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, descending);
        QFETCH(QString, first);
        TestServices t;
        Folder f(files);
        AppState s(t.services);
        s.settings().setSortDescending(descending);
        const QUrl folder = standardizedFileUrl(f.folder());
        s.open(f.folder());
        // Taken at once, so a batch of opened files does not land in the same window.
        QCOMPARE(s.currentURL(), std::optional(folder));
        QVERIFY(!s.errorMessage());
        if (first.isEmpty()) {
            QTRY_VERIFY(s.loadFailed());
            QCOMPARE(s.loadFailure(), std::optional(LoadFailure{folder, DecodeFailure::noImages}));
            QCOMPARE(s.windowTitle(), folder.fileName());
            // Looking again finds an image put there meanwhile; nothing else is listed.
            s.rescanCurrentFolder();
            QTRY_VERIFY(s.isCurrentFileLoaded());
            QCOMPARE(s.currentURL(), std::optional(folder));
            QVERIFY(s.loadFailed());
            QFile(f.dir.filePath(QStringLiteral("new.jpg"))).open(QIODevice::WriteOnly);
            s.rescanCurrentFolder();
            QTRY_COMPARE(s.currentURL(), std::optional(f.url(QStringLiteral("new.jpg"))));
            QTRY_VERIFY(!s.loadFailed());
            return;
        }
        QTRY_COMPARE(s.currentURL(), std::optional(f.url(first)));
        QCOMPARE(s.currentIndex(), 0);
        QCOMPARE(s.imageFiles().size(), files.size() - files.filter(QStringLiteral(".txt")).size());
        QTRY_COMPARE(sourceFileOf(s.currentImage()), first);
        QVERIFY(!s.loadFailed());
        QTRY_VERIFY(s.directoryWatcher());
        QCOMPARE(s.directoryWatcher()->directory(), folder);
    }

    // Which previews are kept after a step: the current file and, in the direction of
    // travel, the next two and the one behind.
    void keepSets_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("step");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("1 file") << 1 << 1 << QStringList{QStringLiteral("a.jpg")};
        QTest::newRow("2 files forward")
            << 2 << 1 << QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg")};
        QTest::newRow("3 files forward") << 3 << 1 << letters(3);
        QTest::newRow("5 files forward")
            << 5 << 1
            << QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg"),
                           QStringLiteral("c.jpg"), QStringLiteral("d.jpg")};
        QTest::newRow("5 files backward")
            << 5 << -1
            << QStringList{QStringLiteral("a.jpg"), QStringLiteral("c.jpg"),
                           QStringLiteral("d.jpg"), QStringLiteral("e.jpg")};
    }
    void keepSets()
    {
        QFETCH(int, count);
        QFETCH(int, step);
        QFETCH(QStringList, kept);
        TestServices t;
        Folder f(letters(count));
        AppState s(t.services);
        // Every kept preview is announced once it is decoded, so that views can prepare
        // what they will draw before the file is shown.
        QStringList announced;
        connect(&s, &AppState::imageDecoded, this,
                [&announced](const QUrl &url, const DecodedImage &image) {
                    QCOMPARE(sourceFileOf(image), url.fileName());
                    announced << url.fileName();
                });
        openAndList(s, f, QStringLiteral("a.jpg"), count);
        t.tasks.waitForDone();
        const QList<QUrl> before = s.loadTaskURLs();
        // A step onto a decoded neighbour is drawn first; the new neighbour's decode
        // follows a frame later.
        s.navigate(step);
        QCOMPARE(names(s.loadTaskURLs()), names(before));
        t.scheduler.advance(1.0 / 60);
        QCOMPARE(names(s.loadTaskURLs()), kept);
        QTRY_VERIFY(std::all_of(kept.begin(), kept.end(),
                                [&announced](const QString &n) { return announced.contains(n); }));
        QCOMPARE(announced.size(), QSet<QString>(announced.begin(), announced.end()).size());
    }

    // Only the last file's preview may land, however late the earlier ones finish.
    void rapidNavigationDropsLatePreviews()
    {
        TestServices t;
        Folder f(letters(5));
        AppState s(t.services);
        openAndList(s, f, QStringLiteral("a.jpg"), 5);
        t.images.setGated(true);
        QStringList applied;
        connect(&s, &AppState::currentImageChanged, &s,
                [&] { applied << sourceFileOf(s.currentImage()); });
        s.navigate(+1); // b (prefetched, maybe already decoded)
        s.navigate(+1); // c
        s.navigate(+1); // d
        QCOMPARE(s.currentURL(), std::optional(f.url(QStringLiteral("d.jpg"))));
        for (const QString &n :
             {QStringLiteral("d.jpg"), QStringLiteral("e.jpg"), QStringLiteral("c.jpg"),
              QStringLiteral("b.jpg"), QStringLiteral("a.jpg")})
            t.images.release(n);
        QTRY_COMPARE(sourceFileOf(s.currentImage()), QStringLiteral("d.jpg"));
        t.tasks.waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(sourceFileOf(s.currentImage()), QStringLiteral("d.jpg"));
        QVERIFY(!applied.contains(QStringLiteral("b.jpg")) &&
                !applied.contains(QStringLiteral("c.jpg")));
    }

    // The same for metadata rows: those of a file stepped away from never replace the rows
    // of the shown one.
    void lateMetadataOfAnEarlierFileIsDropped()
    {
        TestServices t;
        t.images.dateTimeOriginal.insert(QStringLiteral("a.jpg"),
                                         QStringLiteral("2001:01:01 10:00:00"));
        t.images.dateTimeOriginal.insert(QStringLiteral("b.jpg"),
                                         QStringLiteral("2002:02:02 10:00:00"));
        t.images.blockProperties(QStringLiteral("a.jpg"));
        Folder f(letters(2));
        AppState s(t.services);
        openAndList(s, f, QStringLiteral("a.jpg"), 2);
        s.navigate(+1);
        t.scheduler.advance(1.0 / 60); // read a frame after a step onto a decoded file
        const QList<MetadataEntry> rowsOfB =
            readMetadataEntries(f.url(QStringLiteral("b.jpg")), t.images);
        QTRY_COMPARE(s.metadata(), rowsOfB);
        t.images.release(QStringLiteral("a.jpg"));
        t.tasks.waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(s.metadata(), rowsOfB);
    }

    // A 4000x3000 photo: sharp enough on a 2560x1600 Retina screen at any zoom; on a
    // 1440x900 screen the full image follows zooming in (after 0.25 s) and is dropped
    // again on zooming out.
    void fullResolutionFollowsTheZoom()
    {
        {
            TestServices t;
            t.screens.list = {{QSizeF(2560, 1600), 2.0}};
            Folder f({QStringLiteral("a.jpg")});
            AppState s(t.services);
            QCOMPARE(s.maxScreenPixelSize(), 5120);
            s.open(f.url(QStringLiteral("a.jpg")));
            QTRY_VERIFY(s.currentImage());
            QCOMPARE(s.currentImage()->resolution, 1.0);
            s.setMagnification(8.0);
            t.scheduler.advance(0.3);
            QCoreApplication::processEvents();
            QVERIFY(!s.hasFullResolutionTask());
        }
        TestServices t;
        t.screens.list = {{QSizeF(1440, 900), 1.0}};
        Folder f({QStringLiteral("a.jpg")});
        QWindow window; // scale factor 1 under the offscreen platform
        AppState s(t.services);
        s.setWindow(&window);
        QCOMPARE(s.maxScreenPixelSize(), 1440);
        s.open(f.url(QStringLiteral("a.jpg")));
        QTRY_VERIFY(s.currentImage());
        QCOMPARE(s.currentImage()->resolution, 0.36);
        s.setMagnification(0.2); // about fit
        t.scheduler.advance(0.25);
        QCoreApplication::processEvents();
        QVERIFY(!s.hasFullResolutionTask());
        s.setMagnification(1.0);
        t.scheduler.advance(0.2);
        QCoreApplication::processEvents();
        QVERIFY(!s.hasFullResolutionTask()); // still within the debounce
        t.scheduler.advance(0.05);
        QTRY_VERIFY(s.hasFullResolutionTask());
        QTRY_COMPARE(s.currentImage()->resolution, 1.0);
        s.setMagnification(0.2);
        t.scheduler.advance(0.25);
        QTRY_VERIFY(!s.hasFullResolutionTask());
        QTRY_COMPARE(s.currentImage()->resolution, 0.36);
    }

    // Folder events: a burst gives one rescan 0.3 s after the last event.
    void burstOfEventsGivesOneRescan()
    {
        TestServices t;
        Folder f(letters(3));
        AppState s(t.services);
        openAndList(s, f, QStringLiteral("b.jpg"), 3);
        t.tasks.waitForDone();
        const int listings = t.images.listings;
        for (int i = 0; i < 100; ++i) {
            t.watchers.fire(f.folder());
            t.scheduler.advance(0.01);
        }
        QFile(f.dir.filePath(QStringLiteral("0.jpg"))).open(QIODevice::WriteOnly);
        t.scheduler.advance(0.28); // 0.29 s since the last event
        QCOMPARE(int(t.images.listings), listings);
        t.scheduler.advance(0.01);
        QTRY_COMPARE(s.imageFiles().size(), 4);
        QCOMPARE(int(t.images.listings), listings + 1);
        QCOMPARE(s.currentIndex(), 2); // follows the shown file
        QCOMPARE(s.currentURL(), std::optional(f.url(QStringLiteral("b.jpg"))));
    }

    void listingOfALeftFolderIsDropped()
    {
        TestServices t;
        t.settings.values.insert(QStringLiteral("sortOrder"), QStringLiteral("dateTaken"));
        Folder first(letters(3));
        Folder second({QStringLiteral("x.jpg"), QStringLiteral("y.jpg")});
        t.images.blockProperties(QStringLiteral("c.jpg")); // the first listing stalls
        AppState s(t.services);
        s.open(first.url(QStringLiteral("a.jpg")));
        s.open(second.url(QStringLiteral("x.jpg")));
        QTRY_COMPARE(s.imageFiles().size(), 2);
        QCOMPARE(t.watchers.liveWatchers(), 1);
        QCOMPARE(s.directoryWatcher()->directory(), second.folder());
        t.images.release(QStringLiteral("c.jpg"));
        t.tasks.waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(s.imageFiles().size(), 2);
        QCOMPARE(s.currentURL(), std::optional(second.url(QStringLiteral("x.jpg"))));
        // Events of the old folder no longer rescan.
        const int listings = t.images.listings;
        t.watchers.fire(first.folder());
        t.scheduler.advance(1);
        QCOMPARE(int(t.images.listings), listings);
    }

    // An older listing finishing last (a slow date sort) must not bring back a file that a
    // newer listing no longer saw.
    void olderListingArrivingLateIsDropped()
    {
        TestServices t;
        t.settings.values.insert(QStringLiteral("sortOrder"), QStringLiteral("dateTaken"));
        Folder f(letters(3));
        t.images.blockProperties(QStringLiteral("c.jpg"));
        AppState s(t.services);
        s.open(f.url(QStringLiteral("a.jpg")));
        QTRY_VERIFY(t.images.blockedReads == 1); // the first listing has seen c and stalls
        QVERIFY(QFile::remove(f.dir.filePath(QStringLiteral("c.jpg"))));
        s.rescanCurrentFolder();
        QTRY_COMPARE(s.imageFiles().size(), 2);
        t.images.release(QStringLiteral("c.jpg"));
        t.tasks.waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(names(s.imageFiles()),
                 (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg")}));
    }

    // Focus comes and goes in bursts (menus, dialogs): one rescan after it settles.
    void activationRescansAreDebounced()
    {
        TestServices t;
        Folder f(letters(2));
        AppState s(t.services);
        openAndList(s, f, QStringLiteral("a.jpg"), 2);
        t.tasks.waitForDone();
        const int listings = t.images.listings;
        for (int i = 0; i < 5; ++i) {
            s.windowActivated();
            t.scheduler.advance(0.1);
        }
        t.tasks.waitForDone();
        QCOMPARE(int(t.images.listings), listings);
        t.scheduler.advance(0.2);
        t.tasks.waitForDone();
        QCOMPARE(int(t.images.listings), listings + 1);
    }
};

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
