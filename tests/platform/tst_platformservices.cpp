// The platform services: the folder watch (alone, and under a viewer state on real folders
// and real decoding while the test changes them as other programs do), the single instance
// and its hand-off, the desktop's thumbnail folder, memory pressure, the settings
// file, and the desktop entry and AppStream metadata the build writes.
#include "core/listing/FolderListing.h"
#include "core/settings/Settings.h"
#include "core/state/AppState.h"
#include "core/thumbnails/ThumbnailCache.h"
#include "imageio/ImageFormats.h"
#include "imageio/ImageIOService.h"
#include "platform/activation/WindowActivation.h"
#include "platform/instance/SingleInstance.h"
#include "platform/memory/MemoryPressureMonitor.h"
#include "platform/pointer/QtPointerEvents.h"
#include "platform/settings/QSettingsStore.h"
#include "platform/thumbnails/FreedesktopThumbnails.h"
#include "platform/watch/InotifyDirectoryWatcher.h"
#include "support/TestServices.h"

#include <QAbstractEventDispatcher>
#include <QBuffer>
#include <QCryptographicHash>
#include <QLocalSocket>
#include <QMimeDatabase>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QWindow>
#include <QtTest>

#include <atomic>
#include <barrier>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utime.h>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

QImage filled(QSize size, const QColor &colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QByteArray png(Qt::GlobalColor colour, int side = 8)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    filled({side, side}, colour).save(&buffer, "PNG");
    return bytes;
}

// Writes through the byte path, in place (same inode when the file exists), or appending.
bool writeFile(const QByteArray &path, const QByteArray &data, int mode = O_TRUNC)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | mode, 0644);
    const bool written =
        fd >= 0 && ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return fd >= 0 && ::close(fd) == 0 && written;
}

// Runs the event loop until an iteration finds nothing to do. inotify queues events
// inside the syscall that causes them, so anything a change raised is delivered by now.
void deliverPending()
{
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    for (int i = 0; i < 1000 && dispatcher->processEvents(QEventLoop::AllEvents); ++i) {
    }
}

QColor shownColour(const AppState &s)
{
    const auto &image = s.currentImage();
    return image && image->bitmap ? image->bitmap->pixelColor(0, 0) : QColor();
}

// A folder of PNGs of one colour each, and a viewer state on the live services.
struct Album {
    ServicesWith<ImageIOService, InotifyDirectoryWatcherFactory> t;
    QTemporaryDir parent;
    QByteArray path = QFile::encodeName(parent.path()) + "/album";
    AppState s{t.services};
    explicit Album(const QList<std::pair<QByteArray, QByteArray>> &files)
    {
        ::mkdir(path.constData(), 0755);
        for (const auto &[name, data] : files)
            writeFile(file(name), data);
    }
    QByteArray file(const QByteArray &name) const { return path + '/' + name; }
    QUrl url(const QByteArray &name) const { return fileUrlFromLocalPath(file(name)); }
    // Runs the rescans that folder events asked for (the debounce is on the virtual clock).
    bool follow() { return t.scheduler.advance(0.3), true; }
};

// An instance on a socket of the test's own.
struct Running {
    QTemporaryDir dir;
    QString name = dir.filePath(u"orva.socket"_s);
    SingleInstance instance{name};
    QSignalSpy received{&instance, &SingleInstance::filesReceived};
    QList<QUrl> files(int i) const { return received.at(i).at(0).value<QList<QUrl>>(); }
    QByteArray token(int i) const { return received.at(i).at(1).toByteArray(); }
};

int modeOf(const QString &path)
{
    return int(std::filesystem::status(QFile::encodeName(path).toStdString()).permissions());
}

void setMTime(const QString &path, qint64 seconds)
{
    const utimbuf times{seconds, seconds};
    ::utime(QFile::encodeName(path).constData(), &times);
}

// A photo in a home of its own, and the thumbnail folder of that home.
struct Thumbnails {
    QTemporaryDir home;
    QString root = home.filePath(u"cache/thumbnails"_s);
    FreedesktopThumbnails store{root};
    FakeImageService images;
    QString photo = home.filePath(u"(a b)#;é+.jpg"_s);
    QUrl url = QUrl::fromLocalFile(photo);
    QString entry = store.entryPath(photo, u"normal"_s);
    Thumbnails()
    {
        writeFile(QFile::encodeName(photo), "not really a jpeg");
        setMTime(photo, 1700000000);
    }
    std::optional<QImage> thumbnail() { return makeCachedThumbnail(images, &store, url); }
};

QString readText(const char *path)
{
    QFile file(QString::fromUtf8(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

#define FOLLOW_UNTIL(album, condition)                                                             \
    QTRY_VERIFY_WITH_TIMEOUT((album).follow() && (condition), 10000)

class TestPlatformServices : public QObject {
    Q_OBJECT

    InotifyDirectoryWatcherFactory factory_;

private slots:
    // Entry changes raise one callback per batch, however many events it holds (more than
    // one read() takes). Writes stay silent while the file is open; closing it after writing
    // is a batch, so a finished copy or a save in place is noticed; reading raises nothing.
    // After whatever happens to the folder itself the watch no longer covers the folder at
    // that path, so its owner can watch again.
    void oneCallbackPerBatch_data()
    {
        QTest::addColumn<QString>("change"); // a shell command in the folder's parent
        QTest::addColumn<int>("batches");
        QTest::newRow("create") << u": > album/new.jpg"_s << 1;
        QTest::newRow("rename") << u"mv album/photo.jpg album/photo.old"_s << 1;
        QTest::newRow("remove") << u"rm album/photo.jpg"_s << 1;
        QTest::newRow("300 created") << u"for i in $(seq 300); do : > album/$i.jpg; done"_s << 1;
        QTest::newRow("write") << u"printf new >> album/photo.jpg"_s << 1;
        QTest::newRow("write, still open") << QString() << 0;
        QTest::newRow("read") << u"cat album/photo.jpg > /dev/null"_s << 0;
        QTest::newRow("folder renamed") << u"mv album album.old"_s << 1;
        QTest::newRow("folder deleted") << u"rm -r album"_s << 1;
        QTest::newRow("folder replaced") << u"mv album album.old && mkdir album"_s << 1;
        QTest::newRow("folder moved in") << u"mv album album.old && mv other album"_s << 1;
    }
    void oneCallbackPerBatch()
    {
        QFETCH(QString, change);
        QFETCH(int, batches);
        QTemporaryDir parent;
        QVERIFY(QDir(parent.path()).mkpath(u"album"_s) && QDir(parent.path()).mkpath(u"other"_s));
        QFile file(parent.filePath(u"album/photo.jpg"_s));
        QVERIFY(writeFile(QFile::encodeName(file.fileName()), "old"));
        int seen = 0;
        auto watcher =
            factory_.watch(QUrl::fromLocalFile(parent.filePath(u"album"_s)), [&] { ++seen; });
        QVERIFY(watcher && watcher->isWatching());
        if (change.isEmpty())
            QVERIFY(file.open(QIODevice::ReadWrite) && file.write("new") > 0 && file.flush());
        else
            QCOMPARE(
                QProcess::execute(u"sh"_s, {u"-ec"_s, u"cd \"$0\"; "_s + change, parent.path()}),
                0);
        deliverPending();
        QCOMPARE(seen, batches);
        QCOMPARE(watcher->isWatching(), !QByteArray(QTest::currentDataTag()).startsWith("folder"));
    }

    // A shown file replaced (an editor's atomic save), rewritten in place, or caught half
    // copied (failing to decode, or decoding garbage) is decoded again once complete, however
    // the user looks at it next.
    void changedFilesAreDecodedAgain_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("look");
        for (const char *change : {"replaced", "rewritten in place", "copied"})
            for (const char *look : {"rescan", "step away and back", "open again"})
                QTest::addRow("%s, %s", change, look)
                    << QString::fromLatin1(change) << QString::fromLatin1(look);
    }
    void changedFilesAreDecodedAgain()
    {
        QFETCH(QString, change);
        QFETCH(QString, look);
        // Another size: a rewrite within the same clock tick still differs on disk.
        const QByteArray blue = png(Qt::blue, 64);
        const QByteArray half = blue.left(blue.size() / 2);
        Album a({{"a.png", change == u"copied" ? half : png(Qt::red)}, {"b.png", png(Qt::green)}});
        a.s.open(a.url("a.png"));
        QTRY_VERIFY(a.s.imageFiles().size() == 2 && a.s.isCurrentFileLoaded());
        const QByteArray temporary = a.file(".a.png.tmp");
        if (change == u"copied") // the rest arrives; the copy closes the file
            QVERIFY(writeFile(a.file("a.png"), blue.mid(half.size()), O_APPEND));
        else if (change == u"replaced")
            QVERIFY(writeFile(temporary, blue) &&
                    ::rename(temporary.constData(), a.file("a.png").constData()) == 0);
        else
            QVERIFY(writeFile(a.file("a.png"), blue));
        if (look == u"rescan") {
            FOLLOW_UNTIL(a, shownColour(a.s) == Qt::blue);
        } else if (look == u"step away and back") {
            a.s.navigate(+1);
            QTRY_COMPARE(shownColour(a.s), QColor(Qt::green));
            a.s.navigate(-1);
        } else {
            a.s.open(a.url("a.png"));
        }
        QTRY_COMPARE(shownColour(a.s), QColor(Qt::blue));
        QVERIFY(!a.s.loadFailed());
    }

    // `mv album album.old; mkdir album`: the window follows the new folder from then on.
    void replacedFolderIsWatchedAgain()
    {
        Album a({{"a.png", png(Qt::red)}});
        a.s.open(a.url("a.png"));
        QTRY_VERIFY(a.s.directoryWatcher() && shownColour(a.s) == Qt::red);
        QVERIFY(::rename(a.path.constData(), (a.path + ".old").constData()) == 0);
        QVERIFY(::mkdir(a.path.constData(), 0755) == 0);
        QVERIFY(writeFile(a.file("a.png"), png(Qt::red)) &&
                writeFile(a.file("b.png"), png(Qt::green)));
        FOLLOW_UNTIL(a, a.s.imageFiles().size() == 2);
        // Only a watch on the new folder sees this.
        QVERIFY(writeFile(a.file("c.png"), png(Qt::blue)));
        FOLLOW_UNTIL(a, a.s.imageFiles().size() == 3);
        QCOMPARE(a.s.currentURL(), std::optional(a.url("a.png")));
    }

    // Names that are not UTF-8 and links to photos elsewhere are listed and shown; a
    // link is titled by its own name.
    void oddNamesAndLinksAreShown()
    {
        Album a({{"a.png", png(Qt::green)}, {"caf\xe9.png", png(Qt::red)}});
        const auto removeOdd = qScopeGuard([&] { ::unlink(a.file("caf\xe9.png").constData()); });
        QVERIFY(writeFile(a.path + ".real.png", png(Qt::blue)));
        QVERIFY(::symlink((a.path + ".real.png").constData(), a.file("link.png").constData()) == 0);
        a.s.open(a.url("a.png"));
        QTRY_VERIFY(a.s.imageFiles().size() == 3 && shownColour(a.s) == Qt::green);

        const QHash<QByteArray, QColor> expected{
            {"a.png", Qt::green}, {"caf\xe9.png", Qt::red}, {"link.png", Qt::blue}};
        for (int step = 0; step < 3; ++step) {
            a.s.navigate(+1);
            const QByteArray name = localPath(*a.s.currentURL()).mid(a.path.size() + 1);
            QVERIFY2(expected.contains(name), name.constData());
            QTRY_COMPARE(shownColour(a.s), expected.value(name));
            QVERIFY(a.s.windowTitle().startsWith(QFile::decodeName(name) + QLatin1Char(' ')));
        }
        // Opened directly, as a second launch or a drop would.
        a.s.open(a.url("caf\xe9.png"));
        QCOMPARE(localPath(*a.s.currentURL()), a.file("caf\xe9.png"));
        QTRY_COMPARE(shownColour(a.s), QColor(Qt::red));
    }

    // Files (any bytes a name may hold) and the launch's activation token travel to the
    // running instance, from handOff() or from an instance that sends no files; a token that
    // could not be passed on safely (or none, from an older launch) arrives as none.
    void laterLaunchHandsItsFilesOver_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<bool>("passed");
        QTest::newRow("startup id") << QByteArray("launcher-42_TIME1234") << true;
        QTest::newRow("none (older launch)") << QByteArray() << false;
        QTest::newRow("space") << QByteArray("a b") << false;
        QTest::newRow("quote") << QByteArray("a\"b") << false;
        QTest::newRow("not ASCII") << QByteArray("caf\xe9") << false;
        QTest::newRow("too long") << QByteArray(513, 'x') << false;
        QTest::newRow("longest") << QByteArray(512, 'x') << true;
    }
    void laterLaunchHandsItsFilesOver()
    {
        QFETCH(QByteArray, token);
        QFETCH(bool, passed);
        Running r;
        QVERIFY(!r.instance.handOff({})); // nobody is listening yet
        QVERIFY(r.instance.listen());
        const QUrl odd(u"file:///photos/caf%E9 %231.png"_s, QUrl::TolerantMode);
        const QList<QUrl> files{QUrl::fromLocalFile(u"/photos/a b.jpg"_s),
                                QUrl::fromLocalFile(u"/photos/ç\n.png"_s), odd};
        QVERIFY(SingleInstance(r.name).handOff(files, token));
        QVERIFY(r.received.wait());
        QCOMPARE(r.files(0), files);
        QCOMPARE(r.files(0).last().path(QUrl::FullyEncoded), odd.path(QUrl::FullyEncoded));
        QLocalSocket raw; // an empty message still brings a window up
        raw.connectToServer(r.name);
        QVERIFY(raw.waitForConnected());
        raw.write((token.isEmpty() ? "" : "x-orva-activation:" + token + '\n') + '\n');
        QVERIFY(r.received.wait());
        QCOMPARE(r.files(1), QList<QUrl>());
        for (int i : {0, 1})
            QCOMPARE(r.token(i), passed ? token : QByteArray());
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
        QVERIFY(writeFile(QFile::encodeName(r.name), {}));
        SingleInstance next(r.name);
        QVERIFY(!next.handOffOrServe({}));

        SingleInstance late(r.name); // found nobody a moment ago, then tries to serve
        QVERIFY(!late.listen());
        QSignalSpy received(&next, &SingleInstance::filesReceived);
        QVERIFY(SingleInstance(r.name).handOff({}));
        QVERIFY(received.wait()); // still reaches the first instance
    }

    void racingLaunchesElectOneServer()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(u"orva.socket"_s);
        std::barrier start(6);
        std::barrier finished(6); // servers stay up until everyone has launched
        std::atomic<int> served = 0;
        {
            std::vector<std::jthread> launches;
            for (int i = 0; i < 6; ++i)
                launches.emplace_back([&] {
                    SingleInstance instance(name);
                    start.arrive_and_wait();
                    served += !instance.handOffOrServe({}); // or handed over
                    finished.arrive_and_wait();
                });
        }
        QCOMPARE(int(served), 1);
    }

    void thumbnailMadeOnceThenReadBackUntilTheFileChanges()
    {
        Thumbnails s;
        const QString name = QFileInfo(s.photo).fileName();
        s.images.thumbnails.insert(name, filled({400, 300}, Qt::red));
        QCOMPARE(s.thumbnail()->size(), QSize(120, 90));
        // Named by the MD5 of the URI (escaped as every program does, the path cleaned),
        // 128 pixels, with the URI and time it was made from, private to the user.
        const QByteArray uri =
            "file://" + QFile::encodeName(s.home.path()) + "/(a%20b)%23%3B%C3%A9+.jpg";
        QCOMPARE(s.store.entryPath(s.home.filePath(u"x/./../"_s) + name, u"normal"_s), s.entry);
        const QByteArray md5 = QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex();
        QCOMPARE(s.entry, s.root + u"/normal/"_s + QString::fromLatin1(md5) + u".png"_s);
        const QImage written(s.entry);
        QCOMPARE(std::tuple(written.size(), written.text(u"Thumb::URI"_s).toUtf8(),
                            written.text(u"Thumb::MTime"_s)),
                 std::tuple(QSize(128, 96), uri, u"1700000000"_s));
        QCOMPARE((QList{modeOf(s.entry), modeOf(s.root), modeOf(s.root + u"/normal"_s)}),
                 (QList{0600, 0700, 0700}));
        // Served from the folder without a decode, until the file changes.
        QCOMPARE(s.thumbnail()->pixel(60, 45), qRgb(255, 0, 0));
        QCOMPARE(s.images.thumbnailCalls.load(), 1);
        setMTime(s.photo, 1700000100);
        s.images.thumbnails.insert(name, filled({400, 300}, Qt::blue));
        QCOMPARE(s.thumbnail()->pixel(60, 45), qRgb(0, 0, 255));
        QCOMPARE(QImage(s.entry).text(u"Thumb::MTime"_s), u"1700000100"_s);

        // No thumbnail can be made: a failure entry, which a later success removes.
        s.images.failing.insert(name);
        setMTime(s.photo, 1700000200);
        QVERIFY(!s.thumbnail());
        const QString fail = s.store.entryPath(s.photo, u"fail/orva"_s);
        QCOMPARE(QImage(fail).text(u"Thumb::MTime"_s), u"1700000200"_s);
        QCOMPARE(modeOf(fail), 0600);
        s.images.failing.clear();
        QVERIFY(s.thumbnail());
        QVERIFY(!QFile::exists(fail));
        // The entry itself is an image file, but thumbnails of thumbnails would only multiply.
        const QUrl inside = QUrl::fromLocalFile(s.entry);
        QVERIFY(makeCachedThumbnail(s.images, &s.store, inside));
        s.images.failing.insert(QFileInfo(s.entry).fileName());
        QVERIFY(!makeCachedThumbnail(s.images, &s.store, inside));
        QCOMPARE(QDir(s.root + u"/normal"_s).entryList(QDir::Files).size(), 1);
        QVERIFY(QDir(s.root + u"/fail/orva"_s).isEmpty());
        s.store.remove(s.url); // invalidation
        QVERIFY(!QFile::exists(s.entry));
    }

    // Garbage, an entry naming another file, one too large: made anew, and replaced.
    // Where no thumbnail folder can be made, thumbnails are made but not kept.
    void untrustedOrUnwritableThumbnailFolders()
    {
        // size invalid: not a PNG at all
        for (const auto &[size, uri] :
             {std::pair(QSize(), QString()), std::pair(QSize(10, 10), u"file:///elsewhere.jpg"_s),
              std::pair(QSize(4000, 10), QString())}) {
            Thumbnails s;
            QDir().mkpath(s.root + u"/normal"_s);
            QImage fake = filled(size.isValid() ? size : QSize(1, 1), Qt::green);
            fake.setText(u"Thumb::URI"_s,
                         uri.isEmpty()
                             ? QString::fromUtf8(FreedesktopThumbnails::canonicalUri(s.photo))
                             : uri);
            fake.setText(u"Thumb::MTime"_s, u"1700000000"_s);
            QVERIFY(fake.save(s.entry, "PNG"));
            if (!size.isValid())
                QVERIFY(QFile::resize(s.entry, 20)); // a PNG cut short
            QVERIFY(!s.store.load(s.url));
            QCOMPARE(s.thumbnail()->pixel(5, 5), QColor(Qt::gray).rgb()); // made, not read
            QVERIFY(s.store.load(s.url));                                 // and replaced
        }
        // A cache folder that cannot be made (a file is in its way, which no privilege gets
        // past): thumbnails are still made, just not kept.
        Thumbnails blocked;
        QFile blocker(blocked.home.filePath(u"cache"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QVERIFY(blocked.thumbnail());
        QVERIFY(!blocked.store.load(blocked.url));
    }

    // A container limit makes the machine's free memory irrelevant (of 20 GiB of RAM). The
    // limit that binds is the process's own group's or an enclosing one's, not the root's
    // (which has none); usage is the own group's. v1 has a memory controller line.
    void pointerMovementsNameTheirWindowAndBringThePointerBack()
    {
        QtPointerEvents pointer;
        QWindow a, b;
        for (QWindow *w : {&a, &b}) {
            w->resize(200, 200);
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w));
        }
        QList<QWindow *> seen;
        auto monitor = pointer.addMouseMovedMonitor([&seen](QWindow *w) { seen << w; });
        QTest::mouseMove(&b, QPoint(20, 20));
        QTest::mouseMove(&a, QPoint(30, 30));
        QCOMPARE(seen, (QList<QWindow *>{&b, &a}));
        pointer.hidePointerUntilMouseMoves();
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BlankCursor);
        QTest::mouseMove(&a, QPoint(80, 90));
        QVERIFY(!QGuiApplication::overrideCursor());
        monitor.reset();
        QTest::mouseMove(&a, QPoint(10, 10));
        QCOMPARE(seen.size(), 3);
    }

    void memoryPressure()
    {
        const qint64 G = 1LL << 30;
        const struct {
            qint64 available, limit, usage; // limit 0: none
            bool pressure;
        } rows[] = {
            {8 * G, 0, 0, false},     {G, 0, 0, true},
            {2 * G, 0, 0, false},     {8 * G, 2 * G, 2 * G - G / 20, true},
            {8 * G, 2 * G, G, false}, {3 * G, 64 * G, 0, false}}; // the last: a limit above RAM
        for (const auto &r : rows)
            QVERIFY(MemoryPressureMonitor::isUnderPressure(
                        {r.available, 20 * G}, r.limit ? std::optional(r.limit) : std::nullopt,
                        r.limit ? std::optional(r.usage) : std::nullopt) == r.pressure);

        QTemporaryDir root;
        for (const char *line :
             {"memory.max=max", "user.slice/memory.max=5000",
              "user.slice/app.scope/memory.max=3000", "user.slice/app.scope/memory.current=1200",
              "user.slice/other.scope/memory.max=max", "user.slice/other.scope/memory.current=700",
              "memory/job/memory.limit_in_bytes=9000", "memory/job/memory.usage_in_bytes=100"}) {
            const QList<QByteArray> parts = QByteArray(line).split('=');
            const QString path = root.filePath(QString::fromLatin1(parts[0]));
            QVERIFY(QDir().mkpath(QFileInfo(path).path()) &&
                    writeFile(QFile::encodeName(path), parts[1] + '\n'));
        }
        const std::pair<const char *, std::pair<qint64, qint64>> groups[] = {
            {"0::/user.slice/app.scope\n", {3000, 1200}},
            {"0::/user.slice/other.scope\n", {5000, 700}},
            {"0::/\n", {-1, -1}},
            {"12:pids:/x\n4:cpu,memory:/job\n0::/user.slice/app.scope\n", {9000, 100}},
            {"", {-1, -1}}}; // -1: none
        for (const auto &[selfCgroup, expected] : groups) {
            const auto got = MemoryPressureMonitor::cgroupMemory(selfCgroup, root.path());
            QCOMPARE(std::pair(got.limit.value_or(-1), got.usage.value_or(-1)), expected);
        }
    }

    // INI files give every value back as text; the typed settings must survive that.
    void typedSettingsSurviveARestart()
    {
        QTemporaryDir dir;
        for (const bool write : {true, false}) {
            QSettingsStore store(dir.filePath(u"Orva.conf"_s));
            Settings s(store);
            if (write) {
                s.setDisplayMode(DisplayMode::autoSizeWindow);
                s.setShowThumbnailBar(true);
                s.setSortDescending(false);
                s.setSlideshowInterval(3);
                s.saveWindowSize(QSizeF(1024, 700.5));
                s.setLastTransferFolder(u"/media/photos, 2024"_s);
                store.sync();
                continue;
            }
            QCOMPARE(s.storedDisplayMode(), std::optional(DisplayMode::autoSizeWindow));
            QVERIFY(s.showThumbnailBar() && !s.sortDescending() && s.slideshowInterval() == 3.0);
            QCOMPARE(s.savedWindowSize(), std::optional(QSizeF(1024, 700.5)));
            QCOMPARE(s.lastTransferFolder(), std::optional(u"/media/photos, 2024"_s));
            QCOMPARE(store.value(u"neverWritten"_s), std::nullopt);
        }
    }

    // The file managers' "Open With" must offer Orva for exactly the files it opens.
    void desktopEntryAnnouncesWhatTheImageLayerOpens()
    {
        const QString entry = readText(ORVA_DESKTOP_ENTRY);
        const QRegularExpression line(u"^MimeType=(.*)$"_s, QRegularExpression::MultilineOption);
        const QStringList announced = line.match(entry).captured(1).split(u';', Qt::SkipEmptyParts);
        QCOMPARE(announced, supportedImageMimeTypes());
        QStringList mediatypes;
        const QRegularExpression mediatype(u"<mediatype>([^<]*)</mediatype>"_s);
        for (const auto &m : mediatype.globalMatch(readText(ORVA_METAINFO)))
            mediatypes << m.captured(1);
        QCOMPARE(mediatypes, announced);

        // Every extension Orva accepts is announced through its type, unless the name alone
        // says it is no image (".vst" is a Visio template as often as a TGA file).
        for (const QString &ext : supportedImageExtensions()) {
            const QString type = QMimeDatabase()
                                     .mimeTypeForFile(u"x."_s + ext, QMimeDatabase::MatchExtension)
                                     .name();
            QVERIFY2(!type.startsWith(u"image/"_s) || announced.contains(type), qPrintable(ext));
        }
        QVERIFY(!entry.contains(u'@'));
        // And the desktop's own validators accept both files.
        for (const QStringList &command :
             {QStringList{u"desktop-file-validate"_s, QString::fromUtf8(ORVA_DESKTOP_ENTRY)},
              QStringList{u"appstreamcli"_s, u"validate"_s, u"--no-net"_s,
                          QString::fromUtf8(ORVA_METAINFO)}}) {
            QProcess run;
            run.setProcessChannelMode(QProcess::MergedChannels);
            run.start(command.first(), command.mid(1));
            QVERIFY(run.waitForFinished(60000));
            const QString output = QString::fromUtf8(run.readAll());
            // desktop-file-validate reports hints with a zero exit code.
            QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0 &&
                         !output.contains(u"error:"_s),
                     qPrintable(output));
        }
    }
};

QTEST_MAIN(TestPlatformServices)
#include "tst_platformservices.moc"
