// The platform services on real folders and a desktop of the test's own (settings in a key
// file, its own applications, no session bus): file operations (name clashes, read-only, full
// and other volumes, links, names that are not UTF-8, the trash), colour tags, wallpaper
// copies and backends, Open With and reveal; the folder watch, alone and under a viewer state
// while the test changes files as other programs do; the single instance and its hand-off;
// the thumbnail folder; memory pressure; the pointer; and the desktop entry and AppStream
// metadata the build writes.
#include "core/listing/FolderListing.h"
#include "core/runtime/TaskRuntime.h"
#include "core/state/AppState.h"
#include "core/thumbnails/ThumbnailCache.h"
#include "core/wallpaper/WallpaperService.h"
#include "imageio/ImageFormats.h"
#include "imageio/ImageIOService.h"
#include "platform/activation/WindowActivation.h"
#include "platform/desktop/GioDesktopServices.h"
#include "platform/files/PosixFileOperations.h"
#include "platform/instance/SingleInstance.h"
#include "platform/memory/MemoryPressureMonitor.h"
#include "platform/pointer/QtPointerEvents.h"
#include "platform/tags/XattrTagStore.h"
#include "platform/thumbnails/FreedesktopThumbnails.h"
#include "platform/wallpaper/DesktopWallpaper.h"
#include "platform/watch/InotifyDirectoryWatcher.h"
#include "support/ImageFixtures.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QAbstractEventDispatcher>
#include <QBuffer>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QWindow>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

bool privateMounts = false;       // tmpfs mounts possible, and gone when the test ends
QTemporaryDir *sandbox = nullptr; // the test's XDG folders
QString sandboxPath(const QString &relative) { return sandbox->filePath(relative); }

// Paths as bytes: names need not be UTF-8.
QByteArray readAll(const QByteArray &path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return in ? QByteArray::fromStdString(out.str()) : QByteArray("<missing>");
}
QByteArray readAll(const QString &path) { return readAll(QFile::encodeName(path)); }

// In place (the same inode when the file exists), or appending.
bool writeFile(const QByteArray &path, const QByteArray &data, int mode = O_TRUNC)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | mode, 0644);
    const bool written =
        fd >= 0 && ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return fd >= 0 && ::close(fd) == 0 && written;
}

bool exists(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

int modeOf(const QString &path)
{
    return int(std::filesystem::status(QFile::encodeName(path).toStdString()).permissions());
}

std::optional<QByteArray> tagAttribute(const QByteArray &path)
{
    char value[256];
    const ssize_t n = ::getxattr(path.constData(), "user.xdg.tags", value, sizeof value);
    return n < 0 ? std::nullopt : std::optional(QByteArray(value, n));
}

// Hidden ones too: what Orva might have left behind.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}
QStringList entries(const QByteArray &folder) { return entries(QFile::decodeName(folder)); }

// Made if need be, and dated.
void touch(const QString &path, qint64 seconds)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(QDateTime::fromSecsSinceEpoch(seconds),
                                                          QFileDevice::FileModificationTime));
}

QUrl url(const QByteArray &path) { return fileUrlFromLocalPath(path); }

// Applications that record what they are given, and a desktop built for the test.
void setUpDesktop()
{
    const auto write = [](const QString &relative, const QByteArray &text) {
        QDir().mkpath(QFileInfo(sandboxPath(relative)).absolutePath());
        writeFile(QFile::encodeName(sandboxPath(relative)), text);
    };
    const QByteArray marker = QFile::encodeName(sandboxPath(u"launched"_s));
    write(u"record.sh"_s, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + marker + "'\n");
    ::chmod(QFile::encodeName(sandboxPath(u"record.sh"_s)).constData(), 0755);
    const auto entry = [&](const QString &file, const char *name, const char *types,
                           const char *field) {
        write(u"system/applications/"_s + file,
              QByteArray("[Desktop Entry]\nType=Application\nName=") + name +
                  "\nExec=" + QFile::encodeName(sandboxPath(u"record.sh"_s)) + ' ' + field +
                  "\nMimeType=" + types + "\n");
    };
    entry(u"zeta.desktop"_s, "zëta Viewer", "image/png;", "%f");
    entry(u"alpha.desktop"_s, "Alpha Paint", "image/png;image/jpeg;", "%f");
    entry(u"orva.desktop"_s, "Orva", "image/png;image/jpeg;", "%F");
    entry(u"files.desktop"_s, "Files", "inode/directory;", "%u");
    entry(u"bitmaps.desktop"_s, "Bitmaps", "image/x-ms-bmp;", "%f");
    write(u"system/applications/mimeinfo.cache"_s,
          "[MIME Cache]\nimage/png=zeta.desktop;alpha.desktop;orva.desktop;\n"
          "image/jpeg=alpha.desktop;orva.desktop;\nimage/x-ms-bmp=bitmaps.desktop;\n"
          "inode/directory=files.desktop;\n");
    // The MIME database and the settings schemas are the machine's.
    QFile::link(u"/usr/share/mime"_s, sandboxPath(u"system/mime"_s));
    QFile::link(u"/usr/share/glib-2.0"_s, sandboxPath(u"system/glib-2.0"_s));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(sandboxPath(u"system"_s)));
    qputenv("XDG_DATA_HOME", QFile::encodeName(sandboxPath(u"home"_s)));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(sandboxPath(u"config"_s)));
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + marker + ".no-bus");
}

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
    filled({side, side}, colour).save(&buffer, "PNG");
    return bytes;
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

// A photo in a home of its own, and the thumbnail folder of that home.
struct Thumbnails {
    QTemporaryDir home;
    QString root = home.filePath(u"cache/thumbnails"_s);
    FreedesktopThumbnails store{root};
    FakeImageService images;
    QString photo = home.filePath(u"(a b)#;é+.jpg"_s);
    QUrl url = QUrl::fromLocalFile(photo);
    QString entry = store.entryPath(photo, u"normal"_s);
    Thumbnails() { touch(photo, 1700000000); }
    std::optional<QImage> thumbnail() { return makeCachedThumbnail(images, &store, url); }
};

} // namespace

#define FOLLOW_UNTIL(album, condition)                                                             \
    QTRY_VERIFY_WITH_TIMEOUT((album).follow() && (condition), 10000)

class TestPlatformServices : public QObject {
    Q_OBJECT

    enum Operation { Rename, Trash, Delete, Move, MoveAcross, Copy };

    PosixFileOperations ops_;
    QTemporaryDir dir_;
    QByteArray root_ = QFile::encodeName(QDir::cleanPath(dir_.path()));
    std::unique_ptr<QTemporaryDir> other_;
    QByteArray trash_ = QFile::encodeName(sandboxPath(u"home/Trash"_s));
    ImageIOService images_;
    GioDesktopServices gio_;
    InotifyDirectoryWatcherFactory factory_;

    QByteArray make(const QByteArray &name, const QByteArray &content = "image")
    {
        writeFile(root_ + '/' + name, content);
        return root_ + '/' + name;
    }
    // The folder to move or copy into: in the test folder, or on another file system (the
    // shared memory one is a tmpfs of its own).
    QByteArray transferTarget(bool otherFileSystem)
    {
        if (otherFileSystem)
            other_ = std::make_unique<QTemporaryDir>(u"/dev/shm/orva-test-XXXXXX"_s);
        else
            ::mkdir((root_ + "/target").constData(), 0755);
        return otherFileSystem ? QFile::encodeName(other_->path()) : root_ + "/target";
    }
    FileOutcome transfer(bool move, const QByteArray &file, const QByteArray &folder)
    {
        return move ? ops_.moveToFolder(url(file), url(folder))
                    : ops_.copyToFolder(url(file), url(folder));
    }
    // Any operation; the trash and delete give the file's new place, or none.
    FileOutcome act(int operation, const QByteArray &file, const QByteArray &folder)
    {
        if (operation == Rename)
            return ops_.rename(url(file), u"renamed.jpg"_s);
        if (operation >= Move)
            return transfer(operation != Copy, file, folder);
        const std::optional<QString> error =
            operation == Trash ? ops_.moveToTrash(url(file)) : ops_.remove(url(file));
        const QByteArray place = trash_ + "/files/" + file.mid(file.lastIndexOf('/') + 1);
        return error ? FileOutcome::failure(*error)
                     : FileOutcome::success(operation == Trash ? url(place) : QUrl());
    }

private slots:
    void cleanup()
    {
        // By bytes: QDir cannot remove names that are not UTF-8.
        std::error_code error;
        if (other_)
            std::filesystem::remove_all(other_->path().toStdString(), error);
        other_.reset();
        std::filesystem::remove_all(root_.toStdString(), error);
        std::filesystem::create_directory(root_.toStdString(), error);
        QVERIFY(!error);
    }

    // A link is acted on itself, never its target (a copy copies what it points to); a name
    // that is not UTF-8 keeps its bytes; a file removed by another program is an error that
    // leaves nothing behind.
    void linksOddNamesAndVanishedFiles_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("operation");
        const char *operations[] = {"rename", "trash", "delete", "move", "move across", "copy"};
        const std::pair<const char *, const char *> files[] = {
            {"link", "link.jpg"}, {"not UTF-8", "caf\xe9.jpg"}, {"vanished", "gone.jpg"}};
        for (const auto &[label, name] : files)
            for (int operation = Rename; operation <= Copy; ++operation)
                QTest::addRow("%s, %s", label, operations[operation])
                    << QByteArray(name) << operation;
    }
    void linksOddNamesAndVanishedFiles()
    {
        QFETCH(QByteArray, name);
        QFETCH(int, operation);
        const QByteArray target = make("target.jpg", "pixels");
        const QByteArray source = root_ + '/' + name;
        const bool link = name == "link.jpg";
        if (link)
            QCOMPARE(::symlink(target.constData(), source.constData()), 0);
        else if (name != "gone.jpg")
            writeFile(source, "pixels");
        const QByteArray there = transferTarget(operation == MoveAcross);
        const FileOutcome out = act(operation, source, there);
        if (name == "gone.jpg") {
            QCOMPARE(out.error, qt_error_string(ENOENT));
            QVERIFY(entries(there).isEmpty() && !exists(trash_ + "/info/gone.jpg.trashinfo"));
            return;
        }
        QVERIFY2(out, qPrintable(out.error));
        QCOMPARE(exists(source), operation == Copy);
        const QByteArray result = localPath(out.url->isEmpty() ? url(target) : *out.url);
        if (operation >= Move)
            QCOMPARE(result, there + '/' + name);
        if (operation == Trash)
            QVERIFY(readAll(trash_ + "/info/" + name + ".trashinfo")
                        .contains('/' + name.toPercentEncoding() + '\n'));
        char text[PATH_MAX] = {};
        if (link && operation != Copy && operation != Delete)
            QCOMPARE(QByteArray(text, ::readlink(result.constData(), text, sizeof text)), target);
        QCOMPARE(readAll(result), QByteArray("pixels"));
        QCOMPARE(readAll(target), QByteArray("pixels"));
    }

    // Refused while the name is taken (into its own folder too); once free, what arrives is
    // the whole file with its mode, time and tags.
    void transferNeverReplacesAndKeepsWhatTheFileIs_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("otherFileSystem");
        for (const bool move : {true, false})
            for (const bool across : {false, true})
                QTest::addRow("%s%s", move ? "move" : "copy", across ? " across" : "")
                    << move << across;
    }
    void transferNeverReplacesAndKeepsWhatTheFileIs()
    {
        QFETCH(bool, move);
        QFETCH(bool, otherFileSystem);
        const QByteArray target = transferTarget(otherFileSystem);
        const QByteArray content(3 << 20, 'p'); // more than one buffer
        const QByteArray a = make("a.jpg", content);
        const QByteArray b = target + "/a.jpg";
        writeFile(b, "theirs");
        QCOMPARE(transfer(move, a, target).error, qt_error_string(EEXIST));
        QCOMPARE(transfer(move, a, root_).error, qt_error_string(EEXIST));
        QCOMPARE(readAll(b), QByteArray("theirs"));
        QCOMPARE(readAll(a), content);
        QCOMPARE(entries(target), QStringList{u"a.jpg"_s});

        ::unlink(b.constData());
        ::chmod(a.constData(), 0640);
        const bool tags = ::setxattr(a.constData(), "user.xdg.tags", "Red,Work", 8, 0) == 0;
        const struct timespec times[2] = {{1000000000, 0}, {1234567890, 123456789}};
        QCOMPARE(::utimensat(AT_FDCWD, a.constData(), times, 0), 0);
        const FileOutcome out = transfer(move, a, target);
        QVERIFY2(out, qPrintable(out.error));
        QCOMPARE(localPath(*out.url), b);
        QCOMPARE(exists(a), !move);
        QCOMPARE(readAll(b), content);
        struct stat st {};
        QCOMPARE(::stat(b.constData(), &st), 0);
        QCOMPARE(std::tuple(st.st_mode & 07777, st.st_mtim.tv_sec, st.st_mtim.tv_nsec),
                 std::tuple(mode_t(0640), times[1].tv_sec, times[1].tv_nsec));
        if (tags && ::setxattr(b.constData(), "user.probe", "1", 1, 0) == 0)
            QCOMPARE(tagAttribute(b), QByteArray("Red,Work"));
        QCOMPARE(entries(target), QStringList{u"a.jpg"_s});
    }

    void trashWritesAValidEntry()
    {
        QDir(QFile::decodeName(trash_)).removeRecursively(); // a new user has none
        const QByteArray a = make("a b%.jpg", "first");
        QVERIFY(ops_.hasUsableTrash(url(a)));
        QCOMPARE(ops_.moveToTrash(url(a)), std::nullopt);
        QCOMPARE(ops_.moveToTrash(url(make("a b%.jpg", "second"))), std::nullopt);
        QVERIFY(!exists(a));
        QCOMPARE(readAll(trash_ + "/files/a b%.jpg"), QByteArray("first"));
        QCOMPARE(readAll(trash_ + "/files/a b%.jpg.2"), QByteArray("second"));
        const QString info = QString::fromLatin1(readAll(trash_ + "/info/a b%.jpg.2.trashinfo"));
        const QString path = QString::fromLatin1((root_ + "/a b%.jpg").toPercentEncoding("/"));
        QCOMPARE(QString(info).remove(path).replace(QRegularExpression(u"\\d"_s), u"0"_s),
                 u"[Trash Info]\nPath=\nDeletionDate=0000-00-00T00:00:00\n"_s);
        QCOMPARE(modeOf(QFile::decodeName(trash_)), 0700);
    }

    // Another volume (a tmpfs of the test's own) gets a trash of its own, with paths relative
    // to its top. Full, it takes nothing in and keeps nothing of a failed transfer. Read-only,
    // it has no usable trash and refuses every change; a move out of it leaves no copy behind.
    // Root may write anywhere: a read-only mount for root, file modes for everyone else.
    void otherFullAndReadOnlyVolumes()
    {
        QTemporaryDir dir;
        const QByteArray volume = QFile::encodeName(dir.path());
        const bool root = ::geteuid() == 0,
                   mounted = privateMounts &&
                             ::mount("tmpfs", volume.constData(), "tmpfs", 0, "size=1m") == 0;
        const auto unmount =
            qScopeGuard([&] { mounted && ::umount2(volume.constData(), MNT_DETACH); });
        if (root && !mounted)
            QSKIP("A read-only folder needs a tmpfs mount when running as root");
        ::mkdir((volume + "/photos").constData(), 0755);
        writeFile(volume + "/photos/a.jpg", "pixels");
        writeFile(volume + "/b.jpg", "pixels");
        const QByteArray trash = volume + "/.Trash-" + QByteArray::number(::getuid());
        if (mounted) {
            QVERIFY(ops_.hasUsableTrash(url(volume + "/photos/a.jpg")));
            QCOMPARE(ops_.moveToTrash(url(volume + "/photos/a.jpg")), std::nullopt);
            QCOMPARE(readAll(trash + "/files/a.jpg"), QByteArray("pixels"));
            QVERIFY(readAll(trash + "/info/a.jpg.trashinfo").contains("\nPath=photos/a.jpg\n"));
            std::filesystem::remove_all(trash.toStdString());
            // Full: refused, and nothing left behind on either side.
            const QByteArray big = make("big.jpg", QByteArray(2 << 20, 'p'));
            for (const bool move : {true, false})
                QCOMPARE(transfer(move, big, volume).error, qt_error_string(ENOSPC));
            QCOMPARE(readAll(big).size(), 2 << 20);
            QCOMPARE(entries(volume), QStringList{u"b.jpg"_s});
        }
        QCOMPARE(
            root ? ::mount(nullptr, volume.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr)
                 : ::chmod(volume.constData(), 0555),
            0);
        const QUrl b = url(volume + "/b.jpg");
        QVERIFY(!mounted || !ops_.hasUsableTrash(b));
        QCOMPARE(ops_.moveToTrash(b), std::optional(qt_error_string(root ? EROFS : EACCES)));
        QVERIFY(!ops_.rename(b, u"c.jpg"_s));
        QVERIFY(ops_.remove(b));
        const QByteArray target = transferTarget(false);
        const FileOutcome moved = ops_.moveToFolder(b, url(target));
        QVERIFY(!moved && !moved.error.isEmpty());
        QCOMPARE(entries(target), QStringList());
        QVERIFY(!ops_.copyToFolder(url(make("c.jpg")), url(volume)));
        QVERIFY(!ops_.moveToFolder(url(root_ + "/c.jpg"), url(volume)));
        QCOMPARE(readAll(volume + "/b.jpg"), QByteArray("pixels"));
        QVERIFY(exists(root_ + "/c.jpg"));
        ::chmod(volume.constData(), 0755);
    }

    // Written trimmed without empty names; read the same way from what another program left;
    // no names removes the attribute, whether or not it is there.
    void colourTags()
    {
        const QByteArray path = make("tags.jpg");
        if (writeTags(url(path), {u"Red"_s}) == qt_error_string(ENOTSUP))
            QSKIP("The temporary folder does not support user extended attributes");
        QVERIFY(!writeTags(
            url(path), {u" Red "_s, QString(), u"  "_s, u"Work in progress"_s, u"Überfällig"_s}));
        QCOMPARE(tagAttribute(path), QByteArray("Red,Work in progress,Überfällig"));
        const char raw[] = " Red,, ,Work in progress ,Überfällig,"; // as another program left it
        QCOMPARE(::setxattr(path.constData(), "user.xdg.tags", raw, sizeof raw - 1, 0), 0);
        QCOMPARE(XattrTagStore().readTags(url(path)),
                 (QStringList{u"Red"_s, u"Work in progress"_s, u"Überfällig"_s}));
        QVERIFY(!writeTags(url(path), {}));
        QCOMPARE(tagAttribute(path), std::nullopt);
        QVERIFY(!writeTags(url(path), {u" "_s}));
    }

    // The ten newest copies stay, and any still shown, however its path is spelt (here
    // through a link to the folder): of 13, the 11th and 12th newest go.
    void wallpaperPruning()
    {
        QTemporaryDir dir, other;
        for (int i : {1, 0}) // made in no particular order; c0 is the newest
            for (int c = 12 - i; c >= 0; c -= 2)
                touch(dir.filePath(u"c%1"_s.arg(c)), QDateTime::currentSecsSinceEpoch() - 60 * c);
        QVERIFY(QFile::link(dir.path(), other.filePath(u"link"_s)));
        pruneWallpaperFolder(dir.path(), {other.filePath(u"link/./c12"_s)});
        const QStringList left = entries(dir.path());
        QVERIFY2(left.size() == 11 && left.contains(u"c12"_s) && !left.contains(u"c10"_s) &&
                     !left.contains(u"c11"_s),
                 qPrintable(left.join(u' ')));
    }

    // A type the desktop reads, not turned, is copied byte for byte; anything else becomes a
    // JPEG as shown. Every call makes a new copy, dated now; a failure leaves nothing.
    void wallpaperCopies_data() // each row named after the file
    {
        QTest::addColumn<QByteArray>("format"); // a format name, else the file's bytes
        QTest::addColumn<int>("steps");
        // Of a converted copy, clockwise from the top left; none: a byte copy; "-": fails.
        QTest::addColumn<QString>("corners");
        QTest::addColumn<QString>("copy"); // its name without the copy's own number
        QTest::newRow("IMG_0042.jpeg") << "jpeg"_ba << 0 << QString() << u"IMG_0042.jpeg"_s;
        QTest::newRow("turn.jpg") << "jpeg"_ba << 1 << u"BRGW"_s << u"turn.jpg"_s;
        QTest::newRow("half.jpg") << "jpeg"_ba << 2 << u"WBRG"_s << u"half.jpg"_s;
        QTest::newRow("archive.tar.webp") << "webp"_ba << 0 << u"RGWB"_s << u"archive.tar.jpg"_s;
        QTest::newRow("noext") << "jpeg"_ba << 0 << u"RGWB"_s << u"noext.jpg"_s;
        QTest::newRow("alpha.png") << "png"_ba << 3 << u"GWBR"_s << u"alpha.jpg"_s;
        QTest::newRow("broken.webp")
            << "RIFF\x10\0\0\0WEBPVP8 garbage"_ba << 0 << u"-"_s << QString();
        QTest::newRow("gone.jpg") << QByteArray() << 0 << u"-"_s << QString();
    }
    void wallpaperCopies()
    {
        QFETCH(QByteArray, format);
        QFETCH(int, steps);
        QFETCH(QString, corners);
        QFETCH(QString, copy);
        QTemporaryDir dir;
        const QString source = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        if (format.size() > 4)
            writeFile(QFile::encodeName(source), format);
        else if (!format.isEmpty())
            QVERIFY(writeImage(source, quadrants(40, 20, QImage::Format_ARGB32), format.constData(),
                               90));
        if (!format.isEmpty())
            touch(source, 978307200); // 2001
        const QString folder = dir.filePath(u"Wallpapers"_s);
        const QUrl from = QUrl::fromLocalFile(source);
        const QStringList native{u"image/jpeg"_s, u"image/png"_s, u"image/tiff"_s};
        const PreparedWallpaper made = prepareWallpaperCopy(images_, from, steps, folder, native);
        if (corners == u"-") {
            QVERIFY(!made.error.isEmpty() && made.path.isEmpty());
            QCOMPARE(entries(folder), QStringList());
            return;
        }
        QVERIFY2(made.error.isEmpty(), qPrintable(made.error));
        QVERIFY(QFileInfo(made.path).lastModified().secsTo(QDateTime::currentDateTime()) < 60);
        QCOMPARE(
            QFileInfo(made.path).fileName().remove(QRegularExpression(u"-[0-9A-F]{8}(?=\\.)"_s)),
            copy);
        if (corners.isEmpty())
            QCOMPARE(readAll(made.path), readAll(source));
        else
            QCOMPARE(cornerColours(QImage(made.path, "jpeg")), corners);
        QVERIFY(prepareWallpaperCopy(images_, from, steps, folder, native).path != made.path);
        QCOMPARE(entries(folder).size(), 2);
    }

    // Where the desktop has no usable backend (its settings schema missing, no session bus)
    // the picture is refused with the reason and no copy is made, and the process lives on.
    // GNOME gets a copy under both of its keys, and the folder is pruned: of 11 old copies and
    // the new one, the two oldest go.
    void setDesktopPicture()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath(u"caf\u00e9 1.png"_s);
        QVERIFY(writeImage(source, quadrants(30, 10), "png"));
        const QString folder = dir.filePath(u"Wallpapers"_s);
        QVERIFY(QDir().mkpath(folder));
        for (int i = 0; i < 11; ++i)
            touch(folder + u"/old%1.png"_s.arg(i),
                  QDateTime::currentSecsSinceEpoch() - 86400 * (1 + i));
        TaskRuntime tasks;
        const std::pair<QString, QString> rows[] = {
            {u"X-Cinnamon"_s, u"org.cinnamon.desktop.background"_s},
            {u"KDE"_s, u"no session bus"_s},
            {u"ubuntu:GNOME"_s, QString()}}; // usable
        for (const auto &[desktop, reason] : rows) {
            const auto backend = wallpaperBackendForDesktop(desktop);
            std::optional<std::optional<QString>> outcome;
            WallpaperService(images_, tasks, *backend, folder)
                .setDesktopPicture(QUrl::fromLocalFile(source), 0, this,
                                   [&outcome](std::optional<QString> error) { outcome = error; });
            QTRY_VERIFY(outcome.has_value());
            QVERIFY2(reason.isEmpty() ? !*outcome : outcome->value_or(QString()).contains(reason),
                     qPrintable(outcome->value_or(QString())));
            QCOMPARE(entries(folder).size(), reason.isEmpty() ? 10 : 11);
            if (!reason.isEmpty())
                continue;
            const QString shown = backend->picturesInUse().value(0);
            QCOMPARE(backend->picturesInUse(), (QStringList{shown, shown}));
            QCOMPARE(QFileInfo(shown).absolutePath(), QDir(folder).absolutePath());
            QCOMPARE(readAll(shown), readAll(source));
            const QByteArray keyfile = readAll(sandboxPath(u"config/glib-2.0/settings/keyfile"_s));
            const QByteArray uri = QUrl::fromLocalFile(shown).toEncoded();
            QVERIFY2(keyfile.contains("picture-uri='" + uri + "'"), keyfile.constData());
            QVERIFY(keyfile.contains("picture-uri-dark='" + uri + "'"));
        }
        QVERIFY(!entries(folder).contains(u"old10.png"_s));
    }

    // Open With lists the applications for the file's type (an alias of it too), Orva's
    // own left out of the menu, and hands the file's bytes over; reveal without a file
    // manager opens the folder.
    void openWithAndReveal()
    {
        TestFolder f({u"a.png"_s, u"d.bmp"_s});
        QCOMPARE(gio_.applicationsForFile(f.url(u"d.bmp"_s)).value(0).name, u"Bitmaps"_s);
        QGuiApplication::setDesktopFileName(u"orva"_s);
        ServicesWith<FakeImageService, FakeWatcherFactory, RefusingFileOperations,
                     GioDesktopServices>
            t;
        AppState s(t.services);
        s.open(f.url(u"a.png"_s));
        const QList<OpenWithApp> apps = s.openWithApps();
        QStringList names;
        for (const OpenWithApp &a : apps)
            names << a.name;
        QCOMPARE(names, (QStringList{u"Alpha Paint"_s, u"zëta Viewer"_s}));

        const QByteArray odd = make("caf\xe9.png");
        const QByteArray launched = QFile::encodeName(sandboxPath(u"launched"_s));
        gio_.openWith(url(odd), apps.last().url);
        QTRY_COMPARE(readAll(launched), odd + '\n');
        gio_.reveal(f.url(u"a.png"_s));
        QTRY_COMPARE(readAll(launched), odd + '\n' + localPath(f.folder()) + '\n');
    }

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
        if (change == u"copied") // the rest arrives; the copy closes the file
            QVERIFY(writeFile(a.file("a.png"), blue.mid(half.size()), O_APPEND));
        else if (change == u"replaced")
            QVERIFY(writeFile(a.file(".a.png.tmp"), blue) &&
                    ::rename(a.file(".a.png.tmp").constData(), a.file("a.png").constData()) == 0);
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
        for (const char *none : {"x_TIME", "x_TIMEnow", "x_TIME-5", "x_TIME99999999999"})
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
        touch(s.photo, 1700000100);
        s.images.thumbnails.insert(name, filled({400, 300}, Qt::blue));
        QCOMPARE(s.thumbnail()->pixel(60, 45), qRgb(0, 0, 255));
        QCOMPARE(QImage(s.entry).text(u"Thumb::MTime"_s), u"1700000100"_s);

        // No thumbnail can be made: a failure entry, which a later success removes.
        s.images.failing.insert(name);
        touch(s.photo, 1700000200);
        QVERIFY(!s.thumbnail());
        const QString fail = s.store.entryPath(s.photo, u"fail/orva"_s);
        QCOMPARE(QImage(fail).text(u"Thumb::MTime"_s), u"1700000200"_s);
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
             {std::pair(QSize(), ""_ba), std::pair(QSize(10, 10), "file:///elsewhere.jpg"_ba),
              std::pair(QSize(4000, 10), ""_ba)}) {
            Thumbnails s;
            QDir().mkpath(s.root + u"/normal"_s);
            QImage fake = filled(size.isValid() ? size : QSize(1, 1), Qt::green);
            fake.setText(u"Thumb::URI"_s,
                         QString::fromUtf8(
                             uri.isEmpty() ? FreedesktopThumbnails::canonicalUri(s.photo) : uri));
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

    // Mouse moves name their window; a hidden pointer comes back with the next move.
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

    // A container limit makes the machine's free memory irrelevant (of 20 GiB of RAM). The
    // limit that binds is the smallest of the process's own group's and the enclosing ones';
    // usage is the own group's. v1 has a memory controller line.
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
            {"12:pids:/x\n4:cpu,memory:/job\n0::/user.slice/app.scope\n", {9000, 100}},
            {"", {-1, -1}}}; // -1: none
        for (const auto &[selfCgroup, expected] : groups) {
            const auto got = MemoryPressureMonitor::cgroupMemory(selfCgroup, root.path());
            QCOMPARE(std::pair(got.limit.value_or(-1), got.usage.value_or(-1)), expected);
        }
    }

    // The file managers' "Open With" must offer Orva for exactly the files it opens.
    void desktopEntryAnnouncesWhatTheImageLayerOpens()
    {
        const QString entry = QString::fromUtf8(readAll(QByteArray(ORVA_DESKTOP_ENTRY)));
        const QRegularExpression line(u"^MimeType=(.*)$"_s, QRegularExpression::MultilineOption);
        const QStringList announced = line.match(entry).captured(1).split(u';', Qt::SkipEmptyParts);
        QCOMPARE(announced, supportedImageMimeTypes());
        QStringList mediatypes;
        const QRegularExpression mediatype(u"<mediatype>([^<]*)</mediatype>"_s);
        for (const auto &m :
             mediatype.globalMatch(QString::fromUtf8(readAll(QByteArray(ORVA_METAINFO)))))
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
        // And the desktop's own validators accept both files (hints exit 0, so read the text).
        for (const QStringList &command :
             {QStringList{u"desktop-file-validate"_s, QString::fromUtf8(ORVA_DESKTOP_ENTRY)},
              QStringList{u"appstreamcli"_s, u"validate"_s, u"--no-net"_s,
                          QString::fromUtf8(ORVA_METAINFO)}}) {
            QProcess run;
            run.setProcessChannelMode(QProcess::MergedChannels);
            run.start(command.first(), command.mid(1));
            QVERIFY(run.waitForFinished(60000));
            const QString output = QString::fromUtf8(run.readAll());
            QVERIFY2(run.exitCode() == 0 && !output.contains(u"error:"_s), qPrintable(output));
        }
    }
};

int main(int argc, char *argv[])
{
    // Before any thread starts, so that every thread sees the test's mounts; root only.
    privateMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    QTemporaryDir folders; // before GLib reads anything
    sandbox = &folders;
    setUpDesktop();
    QGuiApplication app(argc, argv);
    TestPlatformServices test;
    const int result = QTest::qExec(&test, argc, argv);
    std::filesystem::remove_all(folders.path().toStdString()); // a trashed name not in UTF-8
    return result;
}

#include "tst_platformservices.moc"
