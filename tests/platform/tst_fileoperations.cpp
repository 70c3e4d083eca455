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
    return in ? QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}))
              : QByteArray("<missing>");
}

bool exists(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

void writeFile(const QByteArray &path, const QByteArray &content)
{
    std::ofstream(path.toStdString(), std::ios::binary) << content.toStdString();
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
    bool makeReadOnly()
    {
        return ::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    ~Tmpfs()
    {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }
};

} // namespace

#define NEED_TMPFS(fs, options)                                                                    \
    if (!(fs).mount(options))                                                                      \
    QSKIP("Needs a tmpfs of its own, which only root in a private mount namespace may mount")

class TestFileOperations : public QObject {
    Q_OBJECT

    enum Operation { Rename, Trash, Delete, Move, MoveAcross, Copy };

    PosixFileOperations ops_;
    QTemporaryDir dir_;
    QByteArray root_ = QFile::encodeName(QDir::cleanPath(dir_.path()));
    std::unique_ptr<QTemporaryDir> other_;
    QTemporaryDir dataHome_;
    QByteArray trash_ = QFile::encodeName(dataHome_.path()) + "/Trash";

    QByteArray make(const QByteArray &name, const QByteArray &content = "image")
    {
        writeFile(root_ + '/' + name, content);
        return root_ + '/' + name;
    }
    // The folder to move or copy into: in the test folder, or on another file system.
    std::optional<QByteArray> transferTarget(bool otherFileSystem)
    {
        if (!otherFileSystem) {
            ::mkdir((root_ + "/target").constData(), 0755);
            return root_ + "/target";
        }
        other_ = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/orva-test-XXXXXX"));
        struct stat a {
        }, b{};
        const QByteArray path = QFile::encodeName(other_->path());
        if (!other_->isValid() || ::stat(root_.constData(), &a) != 0 ||
            ::stat(path.constData(), &b) != 0 || a.st_dev == b.st_dev)
            return std::nullopt;
        return path;
    }
    FileOutcome transfer(bool move, const QByteArray &file, const QByteArray &folder)
    {
        return move ? ops_.moveToFolder(url(file), url(folder))
                    : ops_.copyToFolder(url(file), url(folder));
    }

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome_.path())); }
    void cleanup()
    {
        // By bytes: QDir cannot remove names that are not UTF-8.
        other_.reset();
        std::error_code error;
        std::filesystem::remove_all(root_.toStdString(), error);
        std::filesystem::create_directory(root_.toStdString(), error);
        QVERIFY(!error);
    }

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
        QCOMPARE(ops_.rename(url(a), QString::fromUtf8(name)).error, error);
        QCOMPARE(readAll(a), QByteArray("first"));
        QCOMPARE(readAll(root_ + "/b.jpg"), QByteArray("second"));
    }

    // A link is acted on itself, never its target; a name that is not UTF-8 keeps its bytes.
    void linksAndNamesThatAreNotUtf8_data()
    {
        QTest::addColumn<bool>("link");
        QTest::addColumn<int>("operation");
        const std::pair<const char *, Operation> operations[] = {
            {"rename", Rename},          {"trash", Trash}, {"delete", Delete}, {"move", Move},
            {"move across", MoveAcross}, {"copy", Copy}};
        for (const bool link : {true, false})
            for (const auto &[name, operation] : operations)
                if (!(link && operation == Copy))
                    QTest::addRow("%s, %s", link ? "link" : "not UTF-8", name)
                        << link << int(operation);
    }
    void linksAndNamesThatAreNotUtf8()
    {
        QFETCH(bool, link);
        QFETCH(int, operation);
        const QByteArray target = make("target.jpg", "pixels");
        const QByteArray name = link ? "link.jpg" : "caf\xe9.jpg";
        const QByteArray source = root_ + '/' + name;
        if (link)
            QCOMPARE(::symlink(target.constData(), source.constData()), 0);
        else
            writeFile(source, "pixels");
        QByteArray result;
        if (operation == Rename) {
            QVERIFY(ops_.rename(url(source), u"renamed.jpg"_s));
            result = root_ + "/renamed.jpg";
        } else if (operation == Trash) {
            QCOMPARE(ops_.moveToTrash(url(source)), std::nullopt);
            result = trash_ + "/files/" + name;
            QVERIFY(readAll(trash_ + "/info/" + name + ".trashinfo")
                        .contains('/' + name.toPercentEncoding() + '\n'));
        } else if (operation == Delete) {
            QCOMPARE(ops_.remove(url(source)), std::nullopt);
        } else {
            const std::optional<QByteArray> there = transferTarget(operation == MoveAcross);
            if (!there)
                QSKIP("/dev/shm is not another file system here");
            const FileOutcome out = transfer(operation != Copy, source, *there);
            QVERIFY2(out, qPrintable(out.error));
            result = localPath(*out.url);
            QCOMPARE(result, *there + '/' + name);
        }
        QCOMPARE(exists(source), operation == Copy);
        char text[PATH_MAX] = {};
        if (link && !result.isEmpty()) {
            QVERIFY(::readlink(result.constData(), text, sizeof text) > 0);
            QCOMPARE(QByteArray(text), target);
        } else if (!result.isEmpty()) {
            QCOMPARE(readAll(result), QByteArray("pixels"));
        }
        QCOMPARE(readAll(target), QByteArray("pixels"));
    }

    void fileRemovedByAnotherProgram()
    {
        const QUrl gone = url(root_ + "/gone.jpg");
        const QUrl target = url(*transferTarget(false));
        const QString text = qt_error_string(ENOENT);
        QCOMPARE(ops_.rename(gone, QStringLiteral("x.jpg")).error, text);
        QCOMPARE(ops_.moveToFolder(gone, target).error, text);
        QCOMPARE(ops_.copyToFolder(gone, target).error, text);
        QCOMPARE(ops_.moveToTrash(gone), std::optional<QString>(text));
        QCOMPARE(ops_.remove(gone), std::optional<QString>(text));
        QVERIFY(leftovers(localPath(target)).isEmpty());
    }

    // Root may write anywhere: a read-only mount for root, file modes for everyone else.
    void readOnlyFolderRefusesEveryChange()
    {
        Tmpfs fs;
        const bool root = ::geteuid() == 0;
        if (root && !fs.mount("size=1m"))
            QSKIP("A read-only folder needs a tmpfs mount when running as root");
        writeFile(fs.path + "/a.jpg", "image");
        QVERIFY(root ? fs.makeReadOnly() : ::chmod(fs.path.constData(), 0555) == 0);
        const QUrl a = url(fs.path + "/a.jpg");
        const QByteArray target = *transferTarget(false);
        QVERIFY(!ops_.rename(a, QStringLiteral("b.jpg")));
        QVERIFY(ops_.remove(a));
        // Moving out of it (another file system): the copy must not stay behind.
        const FileOutcome moved = ops_.moveToFolder(a, url(target));
        QVERIFY(!moved && !moved.error.isEmpty());
        QVERIFY(!exists(target + "/a.jpg"));
        QVERIFY(leftovers(target).isEmpty());
        // Into it.
        QVERIFY(!ops_.copyToFolder(url(make("c.jpg")), url(fs.path)));
        QVERIFY(!ops_.moveToFolder(url(root_ + "/c.jpg"), url(fs.path)));
        QCOMPARE(readAll(fs.path + "/a.jpg"), QByteArray("image"));
        QVERIFY(exists(root_ + "/c.jpg"));
        ::chmod(fs.path.constData(), 0755);
    }

    // Refused while the name is taken (into its own folder too); once free, what arrives is
    // the whole file with its mode, time and tags.
    void transferNeverReplacesAndKeepsWhatTheFileIs_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("otherFileSystem");
        QTest::newRow("move") << true << false;
        QTest::newRow("move across file systems") << true << true;
        QTest::newRow("copy") << false << false;
        QTest::newRow("copy across file systems") << false << true;
    }
    void transferNeverReplacesAndKeepsWhatTheFileIs()
    {
        QFETCH(bool, move);
        QFETCH(bool, otherFileSystem);
        const std::optional<QByteArray> target = transferTarget(otherFileSystem);
        if (!target)
            QSKIP("/dev/shm is not another file system here");
        const QByteArray content(3 << 20, 'p'); // more than one buffer
        const QByteArray a = make("a.jpg", content);
        const QByteArray b = *target + "/a.jpg";
        writeFile(b, "theirs");
        QCOMPARE(transfer(move, a, *target).error, qt_error_string(EEXIST));
        QCOMPARE(transfer(move, a, root_).error, qt_error_string(EEXIST));
        QCOMPARE(readAll(b), QByteArray("theirs"));
        QCOMPARE(readAll(a), content);
        QVERIFY(leftovers(*target).isEmpty());

        ::unlink(b.constData());
        ::chmod(a.constData(), 0640);
        const bool tags = ::setxattr(a.constData(), "user.xdg.tags", "Red,Work", 8, 0) == 0;
        const struct timespec times[2] = {{1000000000, 0}, {1234567890, 123456789}};
        QCOMPARE(::utimensat(AT_FDCWD, a.constData(), times, 0), 0);
        const FileOutcome out = transfer(move, a, *target);
        QVERIFY2(out, qPrintable(out.error));
        QCOMPARE(localPath(*out.url), b);
        QCOMPARE(exists(a), !move);
        QCOMPARE(readAll(b), content);
        struct stat st {};
        QCOMPARE(::stat(b.constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(st.st_mtim.tv_sec, times[1].tv_sec);
        QCOMPARE(st.st_mtim.tv_nsec, times[1].tv_nsec);
        char value[32] = {};
        const bool targetHoldsTags = ::setxattr(b.constData(), "user.probe", "1", 1, 0) == 0;
        if (tags && targetHoldsTags)
            QCOMPARE(QByteArray(value, ::getxattr(b.constData(), "user.xdg.tags", value, 32)),
                     QByteArray("Red,Work"));
        QVERIFY(leftovers(*target).isEmpty());
    }

    void fullDiskLeavesNothingBehind()
    {
        Tmpfs small;
        NEED_TMPFS(small, "size=64k");
        const QByteArray a = make("big.jpg", QByteArray(256 * 1024, 'p'));
        for (const bool move : {true, false}) {
            QCOMPARE(transfer(move, a, small.path).error, qt_error_string(ENOSPC));
            QCOMPARE(readAll(a).size(), 256 * 1024);
            QVERIFY(QDir(small.dir.path())
                        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                        .isEmpty());
        }
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
        const QList<QByteArray> info = readAll(trash_ + "/info/a b%.jpg.2.trashinfo").split('\n');
        QCOMPARE(info.value(0), QByteArray("[Trash Info]"));
        QCOMPARE(info.value(1), "Path=" + (root_ + "/a b%.jpg").toPercentEncoding("/"));
        QVERIFY(QRegularExpression(u"^DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"_s)
                    .match(QString::fromLatin1(info.value(2)))
                    .hasMatch());
        struct stat st {};
        QCOMPARE(::stat(trash_.constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
    }

    // Another volume gets a trash of its own, with paths relative to its top; a volume
    // where none can be made has no usable trash.
    void otherVolumesGetTheirOwnTrashOrNone()
    {
        Tmpfs volume;
        NEED_TMPFS(volume, "size=1m");
        ::mkdir((volume.path + "/photos").constData(), 0755);
        writeFile(volume.path + "/photos/a.jpg", "pixels");
        writeFile(volume.path + "/b.jpg", "pixels");
        QVERIFY(ops_.hasUsableTrash(url(volume.path + "/photos/a.jpg")));
        QCOMPARE(ops_.moveToTrash(url(volume.path + "/photos/a.jpg")), std::nullopt);
        const QByteArray trash = volume.path + "/.Trash-" + QByteArray::number(::getuid());
        QCOMPARE(readAll(trash + "/files/a.jpg"), QByteArray("pixels"));
        QVERIFY(readAll(trash + "/info/a.jpg.trashinfo").contains("\nPath=photos/a.jpg\n"));

        std::filesystem::remove_all(trash.toStdString());
        QVERIFY(volume.makeReadOnly());
        QVERIFY(!ops_.hasUsableTrash(url(volume.path + "/b.jpg")));
        QCOMPARE(ops_.moveToTrash(url(volume.path + "/b.jpg")),
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
