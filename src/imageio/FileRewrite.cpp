// Crash-safe replacement of a file on Linux. rename(2) is the one atomic step; everything
// before it touches only the temporary file, everything after it only flushes.
#include "imageio/FileRewrite.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>
#include <QWaitCondition>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace orva {

namespace {

std::atomic<RewriteStepHook> stepHook{nullptr};

void reached(RewriteStep step)
{
    if (const RewriteStepHook hook = stepHook.load())
        hook(step);
}

// Files being rewritten by this process; a second rewrite of one waits for the first.
QMutex busyMutex;
QWaitCondition busyReleased;
QSet<QString> busyFiles;

class FileClaim {
public:
    explicit FileClaim(QString path) : path_(std::move(path))
    {
        QMutexLocker lock(&busyMutex);
        while (busyFiles.contains(path_))
            busyReleased.wait(&busyMutex);
        busyFiles.insert(path_);
    }
    ~FileClaim()
    {
        QMutexLocker lock(&busyMutex);
        busyFiles.remove(path_);
        busyReleased.wakeAll();
    }
    FileClaim(const FileClaim &) = delete;
    FileClaim &operator=(const FileClaim &) = delete;

private:
    QString path_;
};

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(std::min<qint64>(size, 1 << 24)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

std::optional<QByteArray> readAll(int fd, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(size - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt; // shrank under us
        done += n;
    }
    return bytes;
}

// Copies every user.* attribute (colour tags among them). False when one cannot be kept.
bool copyUserAttributes(int from, int to)
{
    const ssize_t listSize = ::flistxattr(from, nullptr, 0);
    if (listSize < 0)
        return errno == ENOTSUP; // nothing can be stored here, so nothing is lost
    QByteArray names(listSize, '\0');
    const ssize_t got = ::flistxattr(from, names.data(), size_t(names.size()));
    if (got < 0)
        return false;
    for (const QByteArray &name : names.left(got).split('\0')) {
        if (!name.startsWith("user."))
            continue;
        const ssize_t size = ::fgetxattr(from, name.constData(), nullptr, 0);
        if (size < 0)
            return false;
        QByteArray value(size, '\0');
        const ssize_t read = ::fgetxattr(from, name.constData(), value.data(), size_t(size));
        if (read < 0 || ::fsetxattr(to, name.constData(), value.constData(), size_t(read), 0) != 0)
            return false;
    }
    return true;
}

// Removes temporary files of killed rewrites. A live rewrite holds a lock on its file, so
// only abandoned ones can be locked here.
void removeStrays(int dirFd)
{
    const int scanFd = ::dup(dirFd);
    if (scanFd < 0)
        return;
    DIR *dir = ::fdopendir(scanFd);
    if (!dir) {
        ::close(scanFd);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (!FileRewrite::isTemporaryName(name))
            continue;
        Fd fd(::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat opened {};
        struct stat named {};
        if (!fd.valid() || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
            ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

struct FileRewrite::State {
    explicit State(const QString &target) : claim(target), path(target) {}
    FileClaim claim;
    QString path;
    Fd fd;
    struct stat info {};
    QByteArray contents;
};

void setRewriteStepHook(RewriteStepHook hook) { stepHook.store(hook); }

bool FileRewrite::isTemporaryName(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^\.orva-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}(\.[^/]*)?$)"));
    return pattern.match(fileName).hasMatch();
}

std::optional<FileRewrite> FileRewrite::open(const QString &path, qint64 maxBytes)
{
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), resolved))
        return std::nullopt;
    auto d = std::make_unique<State>(QFile::decodeName(resolved));
    d->fd.reset(::open(resolved, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!d->fd.valid() || ::fstat(d->fd.get(), &d->info) != 0)
        return std::nullopt;
    // A file the user cannot write stays as it is, even in a writable folder.
    if (!S_ISREG(d->info.st_mode) || d->info.st_nlink != 1 || d->info.st_size > maxBytes ||
        ::faccessat(AT_FDCWD, resolved, W_OK, AT_EACCESS) != 0)
        return std::nullopt;
    auto bytes = readAll(d->fd.get(), d->info.st_size);
    if (!bytes)
        return std::nullopt;
    d->contents = std::move(*bytes);
    return FileRewrite(std::move(d));
}

FileRewrite::FileRewrite(std::unique_ptr<State> state) : d_(std::move(state)) {}
FileRewrite::FileRewrite(FileRewrite &&) noexcept = default;
FileRewrite &FileRewrite::operator=(FileRewrite &&) noexcept = default;
FileRewrite::~FileRewrite() = default;

const QByteArray &FileRewrite::contents() const { return d_->contents; }
const QString &FileRewrite::targetPath() const { return d_->path; }

bool FileRewrite::commit(const QByteArray &bytes)
{
    const QFileInfo target(d_->path);
    const QByteArray fileName = QFile::encodeName(target.fileName());
    Fd dir(::open(QFile::encodeName(target.absolutePath()).constData(),
                  O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return false;
    removeStrays(dir.get());

    const QString suffix = target.suffix();
    const QByteArray tempName = QFile::encodeName(
        QStringLiteral(".orva-") + QUuid::createUuid().toString(QUuid::WithoutBraces) +
        (suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix));
    Fd temp(::openat(dir.get(), tempName.constData(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!temp.valid())
        return false; // read-only folder, no space, ...
    bool ok = ::flock(temp.get(), LOCK_EX) == 0;
    reached(RewriteStep::tempCreated);

    const struct stat &orig = d_->info;
    struct stat made {};
    const qint64 half = bytes.size() / 2;
    ok = ok && writeAll(temp.get(), bytes.constData(), half);
    if (ok)
        reached(RewriteStep::halfWritten);
    ok = ok && writeAll(temp.get(), bytes.constData() + half, bytes.size() - half);
    if (ok)
        reached(RewriteStep::written);
    // Who may read the file never changes: an owner or group that cannot be kept fails the
    // rewrite; ownership first, as changing it clears set-id bits.
    ok = ok && ::fstat(temp.get(), &made) == 0;
    if (ok && (made.st_uid != orig.st_uid || made.st_gid != orig.st_gid))
        ok = ::fchown(temp.get(), orig.st_uid, orig.st_gid) == 0;
    ok = ok && copyUserAttributes(d_->fd.get(), temp.get());
    ok = ok && ::fchmod(temp.get(), orig.st_mode & 0777) == 0;
    ok = ok && ::fsync(temp.get()) == 0;
    if (ok)
        reached(RewriteStep::synced);

    // Replaced by someone else since it was read: theirs wins.
    struct stat now {};
    ok = ok && ::fstatat(dir.get(), fileName.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
         now.st_dev == orig.st_dev && now.st_ino == orig.st_ino;
    ok = ok && ::renameat(dir.get(), tempName.constData(), dir.get(), fileName.constData()) == 0;
    if (!ok) {
        ::unlinkat(dir.get(), tempName.constData(), 0);
        return false;
    }
    reached(RewriteStep::renamed);
    ::fsync(dir.get());
    return true;
}

} // namespace orva
