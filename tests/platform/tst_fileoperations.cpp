// File operations on real folders: name clashes, read-only folders, vanished files, full
// disks, other file systems, links, names that are not UTF-8, and the trash.
#include "core/listing/FolderListing.h"
#include "platform/files/PosixFileOperations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace orva;
using namespace Qt::StringLiterals;

namespace {

bool privateMounts = false; // tmpfs mounts possible, and gone when the test ends

// By bytes: names need not be UTF-8.
QByteArray readAll(const QByteArray &path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    if (!in)
        return "<missing>";
    return QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}));
}

bool exists(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

void writeFile(const QByteArray &path, const QByteArray &content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
    ::close(fd);
}

// Hidden entries Orva might have left behind.
QStringList leftovers(const QByteArray &folder)
{
    return QDir(QFile::decodeName(folder))
        .entryList(QDir::Hidden | QDir::Files | QDir::System | QDir::NoDotAndDotDot)
        .filter(QRegularExpression(QStringLiteral("^\\.orva-")));
}

QUrl url(const QByteArray &path) { return fileUrlFromLocalPath(path); }

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

bool holdsUserAttributes(const QByteArray &folder)
{
    const QByteArray probe = folder + "/.probe";
    writeFile(probe, {});
    const bool ok = ::setxattr(probe.constData(), "user.probe", "1", 1, 0) == 0;
    ::unlink(probe.constData());
    return ok;
}

} // namespace

class TestFileOperations : public QObject {
    Q_OBJECT

    PosixFileOperations ops_;
    std::unique_ptr<QTemporaryDir> dir_;
    QByteArray root_;
    std::unique_ptr<QTemporaryDir> other_;
    QTemporaryDir dataHome_;

    QByteArray make(const QByteArray &name, const QByteArray &content = "image")
    {
        const QByteArray path = root_ + '/' + name;
        writeFile(path, content);
        return path;
    }
    QByteArray folder(const QByteArray &name)
    {
        const QByteArray path = root_ + '/' + name;
        ::mkdir(path.constData(), 0755);
        return path;
    }
    // A folder on another file system than the test folder.
    std::unique_ptr<QTemporaryDir> otherFileSystem()
    {
        auto other = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/orva-test-XXXXXX"));
        struct stat a {
        }, b{};
        if (!other->isValid() || ::stat(root_.constData(), &a) != 0 ||
            ::stat(QFile::encodeName(other->path()).constData(), &b) != 0 || a.st_dev == b.st_dev)
            return nullptr;
        return other;
    }
    // The folder to move or copy into: in the test folder, or on another file system.
    std::optional<QByteArray> transferTarget(bool otherFileSystem)
    {
        if (!otherFileSystem)
            return folder("target");
        other_ = this->otherFileSystem();
        return other_ ? std::optional(QFile::encodeName(other_->path())) : std::nullopt;
    }
    FileOutcome transfer(bool move, const QByteArray &file, const QByteArray &folder)
    {
        return move ? ops_.moveToFolder(url(file), url(folder))
                    : ops_.copyToFolder(url(file), url(folder));
    }
    // A read-only folder holding `name`: a read-only mount for root (who may write
    // anywhere else), file modes for everyone else.
    std::optional<QByteArray> readOnlyFolderWith(Tmpfs &fs, const QByteArray &name)
    {
        if (::geteuid() != 0) {
            writeFile(fs.path + '/' + name, "image");
            ::chmod(fs.path.constData(), 0555);
            return fs.path;
        }
        if (!fs.mount("size=1m"))
            return std::nullopt;
        writeFile(fs.path + '/' + name, "image");
        if (::mount(nullptr, fs.path.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return std::nullopt;
        return fs.path;
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome_.path()));
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        root_ = QFile::encodeName(QDir::cleanPath(dir_->path()));
    }
    void cleanupTestCase()
    {
        std::error_code error;
        std::filesystem::remove_all(QFile::encodeName(dataHome_.path()).toStdString(), error);
    }
    void cleanup()
    {
        // By bytes: QDir cannot remove names that are not UTF-8.
        other_.reset();
        std::error_code error;
        std::filesystem::remove_all(root_.toStdString(), error);
        std::filesystem::create_directory(root_.toStdString(), error);
        QVERIFY(!error);
    }

    // ---- rename ----

    void renameNeverReplaces_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("error");
        QTest::newRow("name taken") << QByteArray("b.jpg") << qt_error_string(EEXIST);
        QTest::newRow("too long") << QByteArray(300, 'x') << qt_error_string(ENAMETOOLONG);
    }
    void renameNeverReplaces()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, error);
        const QByteArray a = make("a.jpg", "first");
        make("b.jpg", "second");
        const FileOutcome out = ops_.rename(url(a), QString::fromUtf8(name));
        QVERIFY(!out);
        QCOMPARE(out.error, error);
        QCOMPARE(readAll(a), QByteArray("first"));
        QCOMPARE(readAll(root_ + "/b.jpg"), QByteArray("second"));
    }

    // The link itself is renamed, trashed or moved; its target stays where it is.
    void linksAreActedOnNotTheirTargets_data()
    {
        QTest::addColumn<int>("operation");
        QTest::newRow("rename") << 0;
        QTest::newRow("trash") << 1;
        QTest::newRow("move across file systems") << 2;
    }
    void linksAreActedOnNotTheirTargets()
    {
        QFETCH(int, operation);
        const QByteArray target = make("target.jpg", "pixels");
        const QByteArray link = root_ + "/link.jpg";
        QCOMPARE(::symlink(target.constData(), link.constData()), 0);
        QByteArray moved;
        if (operation == 0) {
            QVERIFY(ops_.rename(url(link), u"renamed.jpg"_s));
            moved = root_ + "/renamed.jpg";
        } else if (operation == 1) {
            QCOMPARE(ops_.moveToTrash(url(link)), std::nullopt);
            moved = QFile::encodeName(dataHome_.path()) + "/Trash/files/link.jpg";
        } else {
            const std::optional<QByteArray> there = transferTarget(true);
            if (!there)
                QSKIP("/dev/shm is not another file system here");
            QVERIFY(ops_.moveToFolder(url(link), url(*there)));
            moved = *there + "/link.jpg";
        }
        char text[PATH_MAX] = {};
        QCOMPARE(::readlink(moved.constData(), text, sizeof text), ssize_t(target.size()));
        QCOMPARE(QByteArray(text), target);
        QVERIFY(!exists(link));
        QCOMPARE(readAll(target), QByteArray("pixels"));
    }

    void namesThatAreNotUtf8_data()
    {
        QTest::addColumn<int>("operation");
        QTest::newRow("rename") << 0;
        QTest::newRow("trash") << 1;
        QTest::newRow("delete") << 2;
        QTest::newRow("move") << 3;
        QTest::newRow("copy") << 4;
    }
    void namesThatAreNotUtf8()
    {
        QFETCH(int, operation);
        const QByteArray odd = make("caf\xe9.jpg", "pixels");
        const QByteArray target = folder("target");
        switch (operation) {
        case 0:
            QVERIFY(ops_.rename(url(odd), QStringLiteral("cafe.jpg")));
            QCOMPARE(readAll(root_ + "/cafe.jpg"), QByteArray("pixels"));
            break;
        case 1:
            QVERIFY(!ops_.moveToTrash(url(odd)));
            QCOMPARE(readAll(QFile::encodeName(dataHome_.path()) + "/Trash/files/caf\xe9.jpg"),
                     QByteArray("pixels"));
            QVERIFY(
                readAll(QFile::encodeName(dataHome_.path()) + "/Trash/info/caf\xe9.jpg.trashinfo")
                    .contains("/caf%E9.jpg\n"));
            break;
        case 2:
            QVERIFY(!ops_.remove(url(odd)));
            break;
        case 3: {
            const FileOutcome out = ops_.moveToFolder(url(odd), url(target));
            QVERIFY(out);
            QCOMPARE(localPath(*out.url), target + "/caf\xe9.jpg");
            QCOMPARE(readAll(target + "/caf\xe9.jpg"), QByteArray("pixels"));
            break;
        }
        case 4:
            QVERIFY(ops_.copyToFolder(url(odd), url(target)));
            QCOMPARE(readAll(target + "/caf\xe9.jpg"), QByteArray("pixels"));
            QVERIFY(exists(odd));
            return;
        }
        QVERIFY(!exists(odd));
    }

    // ---- failures common to every operation ----

    void fileRemovedByAnotherProgram()
    {
        const QUrl gone = url(root_ + "/gone.jpg");
        const QUrl target = url(folder("target"));
        const QString text = qt_error_string(ENOENT);
        QCOMPARE(ops_.rename(gone, QStringLiteral("x.jpg")).error, text);
        QCOMPARE(ops_.moveToFolder(gone, target).error, text);
        QCOMPARE(ops_.copyToFolder(gone, target).error, text);
        QCOMPARE(ops_.moveToTrash(gone), std::optional<QString>(text));
        QCOMPARE(ops_.remove(gone), std::optional<QString>(text));
        QVERIFY(leftovers(localPath(target)).isEmpty());
    }

    void readOnlyFolderRefusesEveryChange()
    {
        Tmpfs fs;
        const std::optional<QByteArray> ro = readOnlyFolderWith(fs, "a.jpg");
        if (!ro)
            QSKIP("A read-only folder needs a tmpfs mount when running as root");
        const QUrl a = url(*ro + "/a.jpg");
        const QByteArray target = folder("target");
        QVERIFY(!ops_.rename(a, QStringLiteral("b.jpg")));
        QVERIFY(ops_.remove(a));
        // Moving out of it (another file system): the copy must not stay behind.
        const FileOutcome moved = ops_.moveToFolder(a, url(target));
        QVERIFY(!moved);
        QVERIFY(!moved.error.isEmpty());
        QVERIFY(!exists(target + "/a.jpg"));
        QVERIFY(leftovers(target).isEmpty());
        // Into it.
        QVERIFY(!ops_.copyToFolder(url(make("c.jpg")), url(*ro)));
        QVERIFY(!ops_.moveToFolder(url(root_ + "/c.jpg"), url(*ro)));
        QCOMPARE(readAll(*ro + "/a.jpg"), QByteArray("image"));
        QVERIFY(exists(root_ + "/c.jpg"));
        ::chmod(ro->constData(), 0755);
    }

    // ---- move and copy ----

    void transferNeverReplaces_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("otherFileSystem");
        QTest::newRow("move") << true << false;
        QTest::newRow("move across file systems") << true << true;
        QTest::newRow("copy") << false << false;
        QTest::newRow("copy across file systems") << false << true;
    }
    void transferNeverReplaces()
    {
        QFETCH(bool, move);
        QFETCH(bool, otherFileSystem);
        const std::optional<QByteArray> target = transferTarget(otherFileSystem);
        if (!target)
            QSKIP("/dev/shm is not another file system here");
        writeFile(*target + "/a.jpg", "theirs");
        const QByteArray a = make("a.jpg", "mine");
        QCOMPARE(transfer(move, a, *target).error, qt_error_string(EEXIST));
        QCOMPARE(readAll(*target + "/a.jpg"), QByteArray("theirs"));
        QCOMPARE(readAll(a), QByteArray("mine"));
        QVERIFY(leftovers(*target).isEmpty());
        // Into its own folder: the file itself is in the way.
        QCOMPARE(transfer(move, a, root_).error, qt_error_string(EEXIST));
        QCOMPARE(readAll(a), QByteArray("mine"));
    }

    void transferKeepsWhatTheFileIs_data() { transferNeverReplaces_data(); }
    void transferKeepsWhatTheFileIs()
    {
        QFETCH(bool, move);
        QFETCH(bool, otherFileSystem);
        const std::optional<QByteArray> target = transferTarget(otherFileSystem);
        if (!target)
            QSKIP("/dev/shm is not another file system here");
        const QByteArray content(3 << 20, 'p'); // more than one buffer
        const QByteArray a = make("a.jpg", content);
        ::chmod(a.constData(), 0640);
        const bool tags = ::setxattr(a.constData(), "user.xdg.tags", "Red,Work", 8, 0) == 0;
        const struct timespec times[2] = {{1000000000, 0}, {1234567890, 123456789}};
        QCOMPARE(::utimensat(AT_FDCWD, a.constData(), times, 0), 0);

        const FileOutcome out = transfer(move, a, *target);
        QVERIFY2(out, qPrintable(out.error));
        const QByteArray b = localPath(*out.url);
        QCOMPARE(b, *target + "/a.jpg");
        QCOMPARE(exists(a), !move);
        QCOMPARE(readAll(b), content);
        struct stat st {};
        QCOMPARE(::stat(b.constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(st.st_mtim.tv_sec, times[1].tv_sec);
        QCOMPARE(st.st_mtim.tv_nsec, times[1].tv_nsec);
        char value[32] = {};
        if (tags && holdsUserAttributes(*target)) {
            QCOMPARE(::getxattr(b.constData(), "user.xdg.tags", value, sizeof value), ssize_t(8));
            QCOMPARE(QByteArray(value), QByteArray("Red,Work"));
        }
        QVERIFY(leftovers(*target).isEmpty());
    }

    void fullDiskLeavesNothingBehind_data()
    {
        QTest::addColumn<bool>("move");
        QTest::newRow("move") << true;
        QTest::newRow("copy") << false;
    }
    void fullDiskLeavesNothingBehind()
    {
        QFETCH(bool, move);
        Tmpfs small;
        if (!small.mount("size=64k"))
            QSKIP("Needs a small tmpfs, which only root in a private mount namespace may mount");
        const QByteArray a = make("big.jpg", QByteArray(256 * 1024, 'p'));
        const FileOutcome out = move ? ops_.moveToFolder(url(a), url(small.path))
                                     : ops_.copyToFolder(url(a), url(small.path));
        QCOMPARE(out.error, qt_error_string(ENOSPC));
        QCOMPARE(readAll(a).size(), 256 * 1024);
        QVERIFY(QDir(small.dir.path())
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
    }

    // ---- trash and delete ----

    void trashWritesAValidEntry()
    {
        const QByteArray trash = QFile::encodeName(dataHome_.path()) + "/Trash";
        QDir(QFile::decodeName(trash)).removeRecursively(); // a new user has none
        const QByteArray a = make("a b%.jpg", "first");
        QVERIFY(ops_.hasUsableTrash(url(a)));
        QCOMPARE(ops_.moveToTrash(url(a)), std::nullopt);
        const QByteArray again = make("a b%.jpg", "second");
        QCOMPARE(ops_.moveToTrash(url(again)), std::nullopt);
        QVERIFY(!exists(a));
        QCOMPARE(readAll(trash + "/files/a b%.jpg"), QByteArray("first"));
        QCOMPARE(readAll(trash + "/files/a b%.jpg.2"), QByteArray("second"));
        const QList<QByteArray> info = readAll(trash + "/info/a b%.jpg.2.trashinfo").split('\n');
        QCOMPARE(info.value(0), QByteArray("[Trash Info]"));
        QCOMPARE(info.value(1), "Path=" + (root_ + "/a b%.jpg").toPercentEncoding("/"));
        QVERIFY(QRegularExpression(
                    QStringLiteral("^DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"))
                    .match(QString::fromLatin1(info.value(2)))
                    .hasMatch());
        struct stat st {};
        QCOMPARE(::stat(trash.constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
    }

    void otherVolumesGetTheirOwnTrash()
    {
        Tmpfs volume;
        if (!volume.mount("size=1m"))
            QSKIP(
                "Needs a tmpfs of its own, which only root in a private mount namespace may mount");
        ::mkdir((volume.path + "/photos").constData(), 0755);
        const QByteArray a = volume.path + "/photos/a.jpg";
        writeFile(a, "pixels");
        QVERIFY(ops_.hasUsableTrash(url(a)));
        QCOMPARE(ops_.moveToTrash(url(a)), std::nullopt);
        const QByteArray trash = volume.path + "/.Trash-" + QByteArray::number(::getuid());
        QCOMPARE(readAll(trash + "/files/a.jpg"), QByteArray("pixels"));
        // Relative to the top of the volume.
        QVERIFY(readAll(trash + "/info/a.jpg.trashinfo").contains("\nPath=photos/a.jpg\n"));
    }

    void volumeWithoutUsableTrashIsDeletedPermanently()
    {
        Tmpfs fs;
        if (!fs.mount("size=1m"))
            QSKIP(
                "Needs a tmpfs of its own, which only root in a private mount namespace may mount");
        writeFile(fs.path + "/a.jpg", "pixels");
        QCOMPARE(::mount(nullptr, fs.path.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
                 0);
        QVERIFY(!ops_.hasUsableTrash(url(fs.path + "/a.jpg")));
        QCOMPARE(ops_.moveToTrash(url(fs.path + "/a.jpg")),
                 std::optional<QString>(qt_error_string(EROFS)));
    }
};

int main(int argc, char *argv[])
{
    // Before any thread starts, so that every thread sees the test's mounts; root only.
    privateMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    QCoreApplication app(argc, argv);
    TestFileOperations test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fileoperations.moc"
