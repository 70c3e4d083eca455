// Files on real folders (name clashes, read-only folders, vanished files, full disks, other
// file systems, links, names that are not UTF-8, the trash, colour tags) and what is handed
// to the desktop (wallpaper copies and backends, Open With, reveal). The desktop is the
// test's own: settings in a key file, its own applications, no session bus.
#include "core/listing/FolderListing.h"
#include "core/runtime/TaskRuntime.h"
#include "core/state/AppState.h"
#include "core/wallpaper/WallpaperService.h"
#include "imageio/ImageIOService.h"
#include "platform/desktop/GioDesktopServices.h"
#include "platform/files/PosixFileOperations.h"
#include "platform/tags/XattrTagStore.h"
#include "platform/wallpaper/DesktopWallpaper.h"
#include "support/ImageFixtures.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QRegularExpression>
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

// By bytes: names need not be UTF-8.
QByteArray readAll(const QByteArray &path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return in ? QByteArray::fromStdString(out.str()) : QByteArray("<missing>");
}
QByteArray readAll(const QString &path) { return readAll(QFile::encodeName(path)); }

void writeFile(const QByteArray &path, const QByteArray &content)
{
    std::ofstream(path.toStdString(), std::ios::binary) << content.toStdString();
}

bool exists(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
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

void touch(const QString &path, const QDateTime &time)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(time, QFileDevice::FileModificationTime));
}

QUrl url(const QByteArray &path) { return fileUrlFromLocalPath(path); }
QString sandboxPath(const QString &relative) { return sandbox->filePath(relative); }

// A tmpfs of its own, unmounted with the test's mount namespace.
struct Tmpfs {
    QTemporaryDir dir;
    QByteArray path = QFile::encodeName(dir.path());
    bool mounted = false;
    bool mount(const char *options)
    {
        mounted = privateMounts && ::mount("tmpfs", path.constData(), "tmpfs", 0, options) == 0;
        return mounted;
    }
    ~Tmpfs()
    {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }
};

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
    entry(u"zeta.desktop"_s, "zeta Viewer", "image/png;", "%f");
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

} // namespace

class TestPlatformFiles : public QObject {
    Q_OBJECT

    enum Operation { Rename, Trash, Delete, Move, MoveAcross, Copy };

    PosixFileOperations ops_;
    QTemporaryDir dir_;
    QByteArray root_ = QFile::encodeName(QDir::cleanPath(dir_.path()));
    std::unique_ptr<QTemporaryDir> other_;
    QByteArray trash_ = QFile::encodeName(sandboxPath(u"home/Trash"_s));
    ImageIOService images_;
    GioDesktopServices gio_;

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
        struct stat st {};
        QCOMPARE(::stat(trash_.constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
    }

    // Another volume gets a trash of its own, with paths relative to its top. Full, it takes
    // nothing in and keeps nothing of a failed transfer. Read-only, it
    // has no usable trash and refuses every change; a move out of it leaves no copy behind.
    // Root may write anywhere: a read-only mount for root, file modes for everyone else.
    void otherFullAndReadOnlyVolumes()
    {
        Tmpfs volume;
        const bool root = ::geteuid() == 0;
        if (root && !volume.mount("size=1m"))
            QSKIP("A read-only folder needs a tmpfs mount when running as root");
        ::mkdir((volume.path + "/photos").constData(), 0755);
        writeFile(volume.path + "/photos/a.jpg", "pixels");
        writeFile(volume.path + "/b.jpg", "pixels");
        const QByteArray trash = volume.path + "/.Trash-" + QByteArray::number(::getuid());
        if (volume.mounted) {
            QVERIFY(ops_.hasUsableTrash(url(volume.path + "/photos/a.jpg")));
            QCOMPARE(ops_.moveToTrash(url(volume.path + "/photos/a.jpg")), std::nullopt);
            QCOMPARE(readAll(trash + "/files/a.jpg"), QByteArray("pixels"));
            QVERIFY(readAll(trash + "/info/a.jpg.trashinfo").contains("\nPath=photos/a.jpg\n"));
            std::filesystem::remove_all(trash.toStdString());
            // Full: refused, and nothing left behind on either side.
            const QByteArray big = make("big.jpg", QByteArray(2 << 20, 'p'));
            for (const bool move : {true, false})
                QCOMPARE(transfer(move, big, volume.path).error, qt_error_string(ENOSPC));
            QCOMPARE(readAll(big).size(), 2 << 20);
            QCOMPARE(entries(volume.path), QStringList{u"b.jpg"_s});
        }
        QCOMPARE(root ? ::mount(nullptr, volume.path.constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                                nullptr)
                      : ::chmod(volume.path.constData(), 0555),
                 0);
        const QUrl b = url(volume.path + "/b.jpg");
        QVERIFY(!volume.mounted || !ops_.hasUsableTrash(b));
        QCOMPARE(ops_.moveToTrash(b), std::optional(qt_error_string(root ? EROFS : EACCES)));
        QVERIFY(!ops_.rename(b, u"c.jpg"_s));
        QVERIFY(ops_.remove(b));
        const QByteArray target = transferTarget(false);
        const FileOutcome moved = ops_.moveToFolder(b, url(target));
        QVERIFY(!moved && !moved.error.isEmpty());
        QCOMPARE(entries(target), QStringList());
        QVERIFY(!ops_.copyToFolder(url(make("c.jpg")), url(volume.path)));
        QVERIFY(!ops_.moveToFolder(url(root_ + "/c.jpg"), url(volume.path)));
        QCOMPARE(readAll(volume.path + "/b.jpg"), QByteArray("pixels"));
        QVERIFY(exists(root_ + "/c.jpg"));
        ::chmod(volume.path.constData(), 0755);
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
    // through a link to the folder).
    void wallpaperPruning()
    {
        // Copies, the one in use (-1: none), and those deleted.
        const std::tuple<int, int, QStringList> rows[] = {{13, 12, {u"c10"_s, u"c11"_s}},
                                                          {13, -1, {u"c10"_s, u"c11"_s, u"c12"_s}},
                                                          {10, -1, {}},
                                                          {11, 0, {u"c10"_s}}};
        for (const auto &[copies, inUse, deleted] : rows) {
            QTemporaryDir dir;
            QStringList kept;
            // Made in no particular order; c0 is the newest.
            for (int i : {1, 0})
                for (int c = copies - 1 - i; c >= 0; c -= 2) {
                    kept << u"c%1"_s.arg(c);
                    touch(dir.filePath(kept.last()),
                          QDateTime::currentDateTimeUtc().addSecs(-60 * c));
                }
            QTemporaryDir other;
            QVERIFY(QFile::link(dir.path(), other.filePath(u"link"_s)));
            pruneWallpaperFolder(dir.path(), {other.filePath(u"link/./c%1"_s.arg(inUse))});
            for (const QString &name : deleted)
                kept.removeOne(name);
            kept.sort();
            QCOMPARE(entries(dir.path()), kept);
        }
    }

    // A type the desktop reads, not turned, is copied byte for byte; anything else becomes a
    // JPEG as shown. Every call makes a new copy, dated now; a failure leaves nothing.
    void wallpaperCopies_data() // each row named after the file
    {
        QTest::addColumn<QByteArray>("format"); // a format name, else the file's bytes
        QTest::addColumn<int>("steps");
        QTest::addColumn<QSize>("size"); // of a converted copy; invalid: a byte copy; empty: fails
        QTest::addColumn<QString>("copy"); // its name without the copy's own number
        QTest::newRow("IMG_0042.jpeg") << "jpeg"_ba << 0 << QSize() << u"IMG_0042.jpeg"_s;
        QTest::newRow("turn.jpg") << "jpeg"_ba << 1 << QSize(20, 40) << u"turn.jpg"_s;
        QTest::newRow("half.jpg") << "jpeg"_ba << 2 << QSize(40, 20) << u"half.jpg"_s;
        QTest::newRow("archive.tar.webp")
            << "webp"_ba << 0 << QSize(40, 20) << u"archive.tar.jpg"_s;
        QTest::newRow("noext") << "jpeg"_ba << 0 << QSize(40, 20) << u"noext.jpg"_s;
        QTest::newRow("alpha.png") << "png"_ba << 3 << QSize(20, 40) << u"alpha.jpg"_s;
        QTest::newRow("broken.webp")
            << "RIFF\x10\0\0\0WEBPVP8 garbage"_ba << 0 << QSize(0, 0) << QString();
        QTest::newRow("gone.jpg") << QByteArray() << 0 << QSize(0, 0) << QString();
    }
    void wallpaperCopies()
    {
        QFETCH(QByteArray, format);
        QFETCH(int, steps);
        QFETCH(QSize, size);
        QFETCH(QString, copy);
        QTemporaryDir dir;
        const QString source = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        if (format.size() > 4)
            writeFile(QFile::encodeName(source), format);
        else if (!format.isEmpty())
            QVERIFY(writeImage(source, quadrants(40, 20, QImage::Format_ARGB32), format.constData(),
                               90));
        if (!format.isEmpty())
            touch(source, QDateTime(QDate(2001, 1, 1), QTime(0, 0)));
        const QString folder = dir.filePath(u"Wallpapers"_s);
        const QUrl from = QUrl::fromLocalFile(source);
        const QStringList native{u"image/jpeg"_s, u"image/png"_s, u"image/tiff"_s};
        const PreparedWallpaper made = prepareWallpaperCopy(images_, from, steps, folder, native);
        if (size == QSize(0, 0)) {
            QVERIFY(!made.error.isEmpty() && made.path.isEmpty());
            QCOMPARE(entries(folder), QStringList());
            return;
        }
        QVERIFY2(made.error.isEmpty(), qPrintable(made.error));
        QVERIFY(QFileInfo(made.path).lastModified().secsTo(QDateTime::currentDateTime()) < 60);
        QCOMPARE(
            QFileInfo(made.path).fileName().remove(QRegularExpression(u"-[0-9A-F]{8}(?=\\.)"_s)),
            copy);
        QImageReader reader(made.path);
        if (!size.isValid())
            QCOMPARE(readAll(made.path), readAll(source));
        else
            QVERIFY(reader.format() == "jpeg" && reader.size() == size);
        QVERIFY(prepareWallpaperCopy(images_, from, steps, folder, native).path != made.path);
        QCOMPARE(entries(folder).size(), 2);
    }

    // GNOME gets both of its keys and reads them back; elsewhere the backend refuses with
    // its reason (a part of it is given), and the process lives on.
    void wallpaperBackendForEachDesktop()
    {
        const std::pair<QString, QString> rows[] = {
            {u"X-Cinnamon"_s, u"org.cinnamon.desktop.background"_s},
            {u"MATE"_s, u"org.mate.background"_s},
            {u"KDE"_s, u"no session bus"_s},
            {u"XFCE"_s, u"no session bus"_s},
            {u"Enlightenment"_s, u"on this desktop (Enlightenment)"_s},
            {QString(), u"XDG_CURRENT_DESKTOP is not set"_s},
            {u"ubuntu:GNOME"_s, QString()}}; // usable
        for (const auto &[desktop, reason] : rows) {
            const auto backend = wallpaperBackendForDesktop(desktop);
            const QString path = sandboxPath(u"pictures/caf\u00e9 1.jpg"_s);
            const std::optional<QString> error = backend->setPicture(path);
            if (!reason.isEmpty()) {
                QVERIFY2(backend->unavailableReason().contains(reason),
                         qPrintable(backend->unavailableReason()));
                QVERIFY(error && error->contains(reason));
                QCOMPARE(backend->picturesInUse(), QStringList());
                continue;
            }
            QCOMPARE(backend->unavailableReason(), QString());
            QCOMPARE(error, std::nullopt);
            QCOMPARE(backend->picturesInUse(), (QStringList{path, path}));
            const QByteArray keyfile = readAll(sandboxPath(u"config/glib-2.0/settings/keyfile"_s));
            const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
            QVERIFY2(keyfile.contains("picture-uri='" + uri + "'"), keyfile.constData());
            QVERIFY(keyfile.contains("picture-uri-dark='" + uri + "'"));
        }
    }

    // Refused without a copy where the desktop has no backend; else a copy is shown and the
    // folder pruned: of 11 old copies and the new one, the two oldest go.
    void setDesktopPictureEndToEnd()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath(u"beach.png"_s);
        QVERIFY(writeImage(source, quadrants(30, 10), "png"));
        const QString folder = dir.filePath(u"Wallpapers"_s);
        QVERIFY(QDir().mkpath(folder));
        for (int i = 0; i < 11; ++i)
            touch(folder + u"/old%1.png"_s.arg(i), QDateTime::currentDateTimeUtc().addDays(-1 - i));
        UnsupportedWallpaper none(u"No way."_s);
        const auto gnome = wallpaperBackendForDesktop(u"GNOME"_s);
        TaskRuntime tasks;
        for (WallpaperBackend *backend : {static_cast<WallpaperBackend *>(&none), gnome.get()}) {
            std::optional<std::optional<QString>> outcome;
            WallpaperService(images_, tasks, *backend, folder)
                .setDesktopPicture(QUrl::fromLocalFile(source), 0, this,
                                   [&outcome](std::optional<QString> error) { outcome = error; });
            QTRY_VERIFY(outcome.has_value());
            QCOMPARE(*outcome, backend == &none ? std::optional(u"No way."_s) : std::nullopt);
            QCOMPARE(entries(folder).size(), backend == &none ? 11 : 10);
        }
        const QString shown = gnome->picturesInUse().value(0);
        QCOMPARE(QFileInfo(shown).absolutePath(), QDir(folder).absolutePath());
        QCOMPARE(readAll(shown), readAll(source));
        QVERIFY(!entries(folder).contains(u"old10.png"_s));
    }

    // Open With lists the applications for the file's type (an alias of it too), Orva's
    // own left out of the menu, and hands the file's bytes over; reveal without a file
    // manager opens the folder.
    void openWithAndReveal()
    {
        TestFolder f({u"a.png"_s, u"b.jpg"_s, u"d.bmp"_s});
        QStringList files;
        for (const DesktopApplication &a : gio_.applicationsForFile(f.url(u"a.png"_s)))
            files << a.url.toLocalFile();
        files.sort();
        const QString apps = sandboxPath(u"system/applications/"_s);
        QCOMPARE(files, (QStringList{apps + u"alpha.desktop"_s, apps + u"orva.desktop"_s,
                                     apps + u"zeta.desktop"_s}));
        QCOMPARE(gio_.applicationsForFile(f.url(u"b.jpg"_s)).size(), 2);
        QCOMPARE(gio_.applicationsForFile(f.url(u"d.bmp"_s)).value(0).name, u"Bitmaps"_s);

        QGuiApplication::setDesktopFileName(u"orva"_s);
        ServicesWith<FakeImageService, FakeWatcherFactory, RefusingFileOperations,
                     GioDesktopServices>
            t;
        AppState s(t.services);
        s.open(f.url(u"a.png"_s));
        QStringList names;
        for (const OpenWithApp &a : s.openWithApps())
            names << a.name;
        QCOMPARE(names, (QStringList{u"Alpha Paint"_s, u"zeta Viewer"_s}));

        const QByteArray odd = make("caf\xe9.png");
        const QByteArray launched = QFile::encodeName(sandboxPath(u"launched"_s));
        gio_.openWith(url(odd), QUrl::fromLocalFile(apps + u"zeta.desktop"_s));
        QTRY_COMPARE(readAll(launched), odd + '\n');
        gio_.reveal(f.url(u"a.png"_s));
        QTRY_COMPARE(readAll(launched), odd + '\n' + localPath(f.folder()) + '\n');
    }
};

int main(int argc, char *argv[])
{
    // Before any thread starts, so that every thread sees the test's mounts; root only.
    privateMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    // Before GLib reads anything.
    QTemporaryDir folders;
    sandbox = &folders;
    setUpDesktop();
    QGuiApplication app(argc, argv);
    TestPlatformFiles test;
    const int result = QTest::qExec(&test, argc, argv);
    std::filesystem::remove_all(folders.path().toStdString()); // a trashed name not in UTF-8
    return result;
}

#include "tst_platformfiles.moc"
