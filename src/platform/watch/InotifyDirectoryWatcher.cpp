#include "platform/watch/InotifyDirectoryWatcher.h"

#include "core/listing/FolderListing.h"

#include <QSocketNotifier>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orva {

namespace {

// The folder's entry list, plus a file closed after writing: a new file raises IN_CREATE
// before its data is there, and a save in place raises nothing else, so without it a copy
// still arriving or a rewritten photo would keep its first (failed or old) decode until
// something else changed. Writes themselves stay out: one close per file is enough.
constexpr uint32_t watchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                               IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// The watch no longer follows the folder at its path.
constexpr uint32_t lostMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

std::optional<std::pair<dev_t, ino_t>> folderIdentity(const QByteArray &path)
{
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return std::nullopt;
    return std::pair(st.st_dev, st.st_ino);
}

class InotifyDirectoryWatcher final : public DirectoryWatcher {
public:
    InotifyDirectoryWatcher(QUrl folder, int fd, int wd, std::function<void()> onChange)
        : folder_(std::move(folder)), path_(localPath(folder_)), identity_(folderIdentity(path_)),
          fd_(fd), wd_(wd), onChange_(std::move(onChange)),
          notifier_(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read))
    {
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { onReadable(); });
    }

    ~InotifyDirectoryWatcher() override
    {
        // Qt copes with a notifier deleted from its own activated() signal, so the
        // notifier can go right away even when the handler is destroying us.
        notifier_.reset();
        if (wd_ >= 0)
            inotify_rm_watch(fd_, wd_);
        ::close(fd_);
    }

    InotifyDirectoryWatcher(const InotifyDirectoryWatcher &) = delete;
    InotifyDirectoryWatcher &operator=(const InotifyDirectoryWatcher &) = delete;

    QUrl directory() const override { return folder_; }

    bool isWatching() const override
    {
        return !lost_ && identity_ && folderIdentity(path_) == identity_;
    }

private:
    void onReadable()
    {
        if (!drain())
            return;
        // The handler may destroy this watcher (typically by replacing it), which frees
        // onChange_ while it runs; call a copy, and touch no member once it returns.
        const std::function<void()> callback = onChange_;
        if (callback)
            callback();
    }

    // Reads every queued event so the level-triggered notifier goes quiet and one
    // burst of changes costs the caller one callback. True when anything was read.
    bool drain()
    {
        alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
        bool any = false;
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                // EAGAIN: the queue is empty. Anything else will not improve by
                // retrying, and the notifier would only spin on it.
                if (errno != EAGAIN)
                    notifier_->setEnabled(false);
                break;
            }
            if (n == 0)
                break;
            any = true;
            for (ssize_t offset = 0; offset < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
                // The kernel dropped the watch itself (folder deleted or its file
                // system unmounted), so the destructor has nothing left to remove.
                if (event->mask & IN_IGNORED)
                    wd_ = -1;
                if (event->mask & lostMask)
                    lost_ = true;
                // IN_Q_OVERFLOW needs no extra handling: the batch still reports a change
                // and the caller rereads the folder anyway.
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return any;
    }

    QUrl folder_;
    QByteArray path_;
    std::optional<std::pair<dev_t, ino_t>> identity_; // of the folder when the watch began
    bool lost_ = false;
    int fd_;
    int wd_;
    std::function<void()> onChange_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace

std::unique_ptr<DirectoryWatcher>
InotifyDirectoryWatcherFactory::watch(const QUrl &folder, std::function<void()> onChange)
{
    if (!folder.isLocalFile())
        return nullptr;
    const QByteArray path = localPath(folder);
    if (path.isEmpty())
        return nullptr;

    // One inotify instance per watcher keeps each watcher's lifetime self-contained;
    // the per-user instance limit is the cost, and hitting it just means no watcher.
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const int wd = inotify_add_watch(fd, path.constData(), watchMask);
    if (wd < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<InotifyDirectoryWatcher>(folder, fd, wd, std::move(onChange));
}

} // namespace orva
