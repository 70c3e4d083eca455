#include "platform/files/PosixFileOperations.h"

#include "core/listing/FolderListing.h"

#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#ifndef STATX_MNT_ID
#define STATX_MNT_ID 0x00001000U
#endif

namespace orva {

namespace {

QString errorText(int error) { return qt_error_string(error); }

QByteArray parentPath(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArray lastComponent(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

QByteArray joined(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Closes a descriptor and removes the temporary file it wrote unless released.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    ~TemporaryFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!path.isEmpty())
            ::unlink(path.constData());
    }
    // Closes the descriptor and reports its error (a delayed write failure shows here).
    int close()
    {
        const int result = ::close(fd);
        fd = -1;
        return result == 0 ? 0 : errno;
    }
    void release() { path.clear(); }

    int fd = -1;
    QByteArray path;
};

int writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= size_t(n);
    }
    return 0;
}

int copyContents(int in, int out)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (const int e = writeAll(out, buffer.data(), size_t(n)))
            return e;
    }
}

// The user attributes (colour tags among them). A destination that cannot hold
// attributes at all does not stop the copy; any other failure does.
int copyUserAttributes(int in, int out)
{
    const ssize_t size = ::flistxattr(in, nullptr, 0);
    if (size <= 0)
        return 0; // none, or none possible here
    QByteArray names(size, '\0');
    const ssize_t got = ::flistxattr(in, names.data(), size_t(size));
    if (got < 0)
        return 0;
    for (const QByteArray &name : names.left(got).split('\0')) {
        if (!name.startsWith("user."))
            continue;
        const ssize_t length = ::fgetxattr(in, name.constData(), nullptr, 0);
        if (length < 0)
            continue;
        QByteArray value(length, '\0');
        const ssize_t read = ::fgetxattr(in, name.constData(), value.data(), size_t(length));
        if (read < 0)
            continue;
        if (::fsetxattr(out, name.constData(), value.constData(), size_t(read), 0) != 0) {
            if (errno == ENOTSUP || errno == EOPNOTSUPP)
                return 0;
            return errno;
        }
    }
    return 0;
}

void syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QByteArray randomSuffix()
{
    return QByteArray::number(QRandomGenerator::global()->generate64(), 36);
}

int copyLink(const QByteArray &from, const struct stat &st, const QByteArray &to)
{
    QByteArray target(st.st_size > 0 ? st.st_size + 1 : PATH_MAX, '\0');
    const ssize_t n = ::readlink(from.constData(), target.data(), size_t(target.size()));
    if (n < 0)
        return errno;
    target.truncate(n);
    TemporaryFile temp;
    for (int attempt = 0; temp.path.isEmpty(); ++attempt) {
        const QByteArray candidate = joined(parentPath(to), ".orva-" + randomSuffix());
        if (::symlink(target.constData(), candidate.constData()) == 0)
            temp.path = candidate;
        else if (errno != EEXIST || attempt > 16)
            return errno;
    }
    const std::array<struct timespec, 2> times{st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, temp.path.constData(), times.data(), AT_SYMLINK_NOFOLLOW);
    if (const int e = renameWithoutReplacing(temp.path, to))
        return e;
    temp.release();
    return 0;
}

struct MountInfo {
    QByteArray mountPoint;
    QByteArray type;
};

std::optional<quint64> mountId(const QByteArray &path)
{
    struct statx stx {};
    if (::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &stx) != 0 ||
        !(stx.stx_mask & STATX_MNT_ID))
        return std::nullopt;
    return stx.stx_mnt_id;
}

// mountinfo writes space, tab, newline and backslash as octal escapes.
QByteArray unescapeMountField(const QByteArray &field)
{
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::optional<MountInfo> mountOf(const QByteArray &path)
{
    const std::optional<quint64> id = mountId(path);
    if (!id)
        return std::nullopt;
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray wanted = QByteArray::number(*id);
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 7 || fields[0] != wanted)
            continue;
        const qsizetype dash = fields.indexOf("-", 6);
        if (dash < 0 || dash + 1 >= fields.size())
            return std::nullopt;
        return MountInfo{unescapeMountField(fields[4]), fields[dash + 1]};
    }
    return std::nullopt;
}

QByteArray realFolderOf(const QByteArray &path)
{
    char *real = ::realpath(parentPath(path).constData(), nullptr);
    if (!real)
        return {};
    QByteArray result(real);
    ::free(real);
    return result;
}

QByteArray homeTrashDir()
{
    QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    if (!dataHome.startsWith('/')) {
        const QByteArray home = qgetenv("HOME");
        if (!home.startsWith('/'))
            return {};
        dataHome = joined(home, ".local/share");
    }
    return joined(dataHome, "Trash");
}

QByteArray nearestExisting(QByteArray path)
{
    struct stat st {};
    while (path.size() > 1 && ::stat(path.constData(), &st) != 0)
        path = parentPath(path);
    return path;
}

int makeFolders(const QByteArray &path)
{
    struct stat st {};
    if (::stat(path.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (path.size() > 1)
        if (const int e = makeFolders(parentPath(path)))
            return e;
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

int makeTrashFolders(const QByteArray &trash)
{
    if (const int e = makeFolders(joined(trash, "files")))
        return e;
    return makeFolders(joined(trash, "info"));
}

struct TrashLocation {
    QByteArray dir;
    QByteArray topdir; // empty for the home trash, whose entries record absolute paths
};

// A per-user trash folder on a volume: usable when it exists as a real folder of ours,
// or (when not creating) when it could be created.
int ownTrashFolder(const QByteArray &dir, bool create)
{
    struct stat st {};
    if (::lstat(dir.constData(), &st) == 0) {
        if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            return EPERM;
        return create ? makeTrashFolders(dir) : 0;
    }
    if (errno != ENOENT)
        return errno;
    if (!create)
        return ::access(parentPath(dir).constData(), W_OK | X_OK) == 0 ? 0 : errno;
    if (::mkdir(dir.constData(), 0700) != 0)
        return errno;
    return makeTrashFolders(dir);
}

// The freedesktop trash for a file: the home trash on the home volume, else the trash at
// the top of the file's own volume.
std::optional<TrashLocation> trashFor(const QByteArray &path, bool create, int &error)
{
    error = ENOTSUP;
    const std::optional<quint64> fileMount = mountId(path);
    const QByteArray home = homeTrashDir();
    if (!home.isEmpty() && fileMount && mountId(nearestExisting(home)) == fileMount) {
        if (create && (error = makeTrashFolders(home)) != 0)
            return std::nullopt;
        return TrashLocation{home, {}};
    }
    const std::optional<MountInfo> mount = mountOf(path);
    if (!mount || !mount->mountPoint.startsWith('/'))
        return std::nullopt;
    const QByteArray &top = mount->mountPoint;
    const QByteArray uid = QByteArray::number(::getuid());
    // An administrator's shared trash: a sticky folder that is not a link.
    struct stat st {};
    const QByteArray shared = joined(top, ".Trash");
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const QByteArray dir = joined(shared, uid);
        if ((error = ownTrashFolder(dir, create)) == 0)
            return TrashLocation{dir, top};
    }
    const QByteArray dir = joined(top, ".Trash-" + uid);
    if ((error = ownTrashFolder(dir, create)) == 0)
        return TrashLocation{dir, top};
    return std::nullopt;
}

bool isLocalVolume(const QByteArray &path)
{
    const std::optional<MountInfo> mount = mountOf(path);
    return mount && !isNetworkFileSystemType(mount->type);
}

} // namespace

int renameWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    int e = errno;
    if (e != EINVAL && e != ENOSYS && e != ENOTSUP && e != EOPNOTSUPP)
        return e;
    // The file system cannot refuse the replacement itself; a hard link can (EEXIST).
    if (::link(from.constData(), to.constData()) == 0) {
        if (::unlink(from.constData()) == 0)
            return 0;
        e = errno;
        ::unlink(to.constData());
        return e;
    }
    e = errno;
    if (e != EPERM && e != ENOTSUP && e != EOPNOTSUPP && e != EMLINK)
        return e;
    // No hard links either (FAT and some network file systems): look, then rename. Only
    // a file created in that instant by another program could be replaced.
    struct stat st {};
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

int copyWithoutReplacing(const QByteArray &from, const QByteArray &to, bool keepLinks)
{
    struct stat st {};
    if (::lstat(from.constData(), &st) != 0)
        return errno;
    // Cheap early answer; the final placement refuses a name taken meanwhile as well.
    struct stat existing {};
    if (::lstat(to.constData(), &existing) == 0)
        return EEXIST;
    if (keepLinks && S_ISLNK(st.st_mode))
        return copyLink(from, st, to);

    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (in < 0)
        return errno;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closeIn{in};
    if (::fstat(in, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;

    TemporaryFile temp;
    QByteArray pattern = joined(parentPath(to), ".orva-XXXXXX");
    temp.fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (temp.fd < 0)
        return errno;
    temp.path = pattern;
    if (const int e = copyContents(in, temp.fd))
        return e;
    ::fchmod(temp.fd, st.st_mode & 07777); // a file system without modes keeps its own
    if (const int e = copyUserAttributes(in, temp.fd))
        return e;
    const std::array<struct timespec, 2> times{st.st_atim, st.st_mtim};
    if (::futimens(temp.fd, times.data()) != 0)
        return errno;
    if (::fsync(temp.fd) != 0)
        return errno;
    if (const int e = temp.close())
        return e;
    if (const int e = renameWithoutReplacing(temp.path, to))
        return e;
    temp.release();
    syncFolder(parentPath(to));
    return 0;
}

bool isNetworkFileSystemType(const QByteArray &type)
{
    static const QList<QByteArray> network{"nfs",
                                           "nfs4",
                                           "cifs",
                                           "smb3",
                                           "smbfs",
                                           "smb",
                                           "9p",
                                           "afs",
                                           "ceph",
                                           "coda",
                                           "ncpfs",
                                           "glusterfs",
                                           "lustre",
                                           "davfs",
                                           "fuse.sshfs",
                                           "fuse.rclone",
                                           "fuse.s3fs",
                                           "fuse.davfs2",
                                           "fuse.gvfsd-fuse",
                                           "fuse.glusterfs",
                                           "fuse.curlftpfs",
                                           "fuse.smbnetfs"};
    return network.contains(type);
}

FileOutcome PosixFileOperations::rename(const QUrl &file, const QString &newName)
{
    const QByteArray name = QFile::encodeName(newName);
    if (name.isEmpty() || name.contains('/') || name.contains('\0') || name == "." || name == "..")
        return FileOutcome::failure(errorText(EINVAL));
    const QByteArray from = localPath(file);
    const QByteArray to = joined(parentPath(from), name);
    if (const int e = renameWithoutReplacing(from, to))
        return FileOutcome::failure(errorText(e));
    return FileOutcome::success(fileUrlFromLocalPath(to));
}

FileOutcome PosixFileOperations::moveToFolder(const QUrl &file, const QUrl &folder)
{
    const QByteArray from = localPath(file);
    const QByteArray to = joined(localPath(folder), lastComponent(from));
    int e = renameWithoutReplacing(from, to);
    if (e == EXDEV) {
        struct stat before {};
        if (::lstat(from.constData(), &before) != 0)
            return FileOutcome::failure(errorText(errno));
        e = copyWithoutReplacing(from, to, true);
        // Only the file that was copied goes: another file put in its place meanwhile,
        // or none at all, stays as it is, and the copy is kept.
        struct stat now {};
        if (e == 0 && ::lstat(from.constData(), &now) == 0 && now.st_dev == before.st_dev &&
            now.st_ino == before.st_ino && ::unlink(from.constData()) != 0) {
            e = errno;
            ::unlink(to.constData()); // the source stays; no second copy is left
        }
    }
    if (e)
        return FileOutcome::failure(errorText(e));
    return FileOutcome::success(fileUrlFromLocalPath(to));
}

FileOutcome PosixFileOperations::copyToFolder(const QUrl &file, const QUrl &folder)
{
    const QByteArray from = localPath(file);
    const QByteArray to = joined(localPath(folder), lastComponent(from));
    if (const int e = copyWithoutReplacing(from, to, false))
        return FileOutcome::failure(errorText(e));
    return FileOutcome::success(fileUrlFromLocalPath(to));
}

bool PosixFileOperations::hasUsableTrash(const QUrl &file) const
{
    const QByteArray path = localPath(file);
    int error = 0;
    return isLocalVolume(path) && trashFor(path, false, error).has_value();
}

std::optional<QString> PosixFileOperations::moveToTrash(const QUrl &file)
{
    const QByteArray path = localPath(file);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return errorText(errno);
    int error = 0;
    const std::optional<TrashLocation> trash = trashFor(path, true, error);
    if (!trash)
        return errorText(error);
    const QByteArray name = lastComponent(path);
    QByteArray original = joined(realFolderOf(path), name);
    if (!trash->topdir.isEmpty() && original.startsWith(trash->topdir))
        original = original.mid(trash->topdir.size()).mid(trash->topdir.endsWith('/') ? 0 : 1);
    const QByteArray info =
        "[Trash Info]\nPath=" + original.toPercentEncoding("/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() +
        '\n';
    for (int n = 1; n < 10000; ++n) {
        const QByteArray entry = n == 1 ? name : name + '.' + QByteArray::number(n);
        const QByteArray infoPath = joined(trash->dir, "info/" + entry + ".trashinfo");
        const int fd = ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return errorText(errno);
        }
        int e = writeAll(fd, info.constData(), size_t(info.size()));
        if (::close(fd) != 0 && e == 0)
            e = errno;
        if (e == 0)
            e = renameWithoutReplacing(path, joined(trash->dir, "files/" + entry));
        if (e == 0)
            return std::nullopt;
        ::unlink(infoPath.constData());
        if (e != EEXIST)
            return errorText(e);
    }
    return errorText(EEXIST);
}

std::optional<QString> PosixFileOperations::remove(const QUrl &file)
{
    if (::unlink(localPath(file).constData()) != 0)
        return errorText(errno);
    return std::nullopt;
}

} // namespace orva
