#pragma once

#include "core/runtime/TaskRuntime.h"
#include "core/services/DesktopServices.h"
#include "core/services/DirectoryWatcher.h"
#include "core/services/FileOperations.h"
#include "core/services/ImageService.h"
#include "core/services/PointerEvents.h"
#include "core/services/ScreenInfo.h"
#include "core/services/TagStore.h"
#include "core/state/AppServices.h"
#include "core/thumbnails/ThumbnailCache.h"
#include "support/MemorySettingsStore.h"
#include "support/VirtualScheduler.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QWaitCondition>

#include <atomic>
#include <memory>

namespace orva::test {

using namespace Qt::StringLiterals;

// An image service with scripted results. A decode pretends every file is `fullSize` pixels
// and honours the bound like the real one; the result's bitmap carries the file name (text
// key "file") so tests can tell which file an image came from. With `gated`, decodes wait
// until the test releases their file (or their task is cancelled).
class FakeImageService final : public ImageService {
public:
    const QSet<QString> &supportedExtensions() const override { return ++listings, extensions_; }
    bool isSupportedImageFile(const QUrl &url) const override;
    std::optional<DecodedImage> decodeImage(const QUrl &url,
                                            std::optional<int> maxPixelSize) const override;
    DecodeOutcome decodeWithReason(const QUrl &url, std::optional<int> maxPixelSize) const override
    {
        DecodeOutcome outcome{decodeImage(url, maxPixelSize)};
        if (!outcome.image)
            outcome.failure = reasons.value(url.fileName(), DecodeFailure::unreadable);
        return outcome;
    }
    std::optional<ImageProperties> readProperties(const QUrl &url) const override;
    // A quick preview ("file" text: the name + " quick") for the names in `quickPreviews`.
    std::optional<DecodedImage> decodeQuickPreview(const QUrl &url) const override;
    // `thumbnails` by file name, else a grey image; gated and failing like decodes.
    std::optional<QImage> makeThumbnail(const QUrl &url, int maxPixelSize,
                                        std::optional<int> minEmbeddedSide = {}) const override;

    // Turns the bitmap (keeping its "file" text) and swaps the point size; gated like
    // decodes, released as "turn N".
    std::optional<DecodedImage> rotateDecodedImage(const DecodedImage &image,
                                                   int quarterTurns) const override;
    // Succeeds for the file names in `savable`, counting every call.
    bool saveRotation(const QUrl &url, int) const override
    {
        ++saveCalls;
        QMutexLocker lock(&mutex_);
        return savable.contains(url.fileName());
    }

    void setGated(bool gated) { locked(gated_, gated); }
    template <class... Names> void release(const Names &...fileNames)
    {
        (locked(releasedNames_, QString(fileNames)), ...);
    }
    // Lets every held-back call finish, for good.
    void releaseAll() { locked(releasedAll_, true); }
    // readProperties waits for release()
    void blockProperties(const QString &fileName) { locked(blockedProperties_, fileName); }

    QSize fullSize{4000, 3000};
    QSet<QString> failing;                                    // file names whose decode fails
    QHash<QString, DecodeFailure> reasons;                    // why they fail (default: unreadable)
    QHash<QString, QString> dateTimeOriginal;                 // file name -> Exif date text
    std::optional<std::optional<ImageProperties>> properties; // when set, what every read gives
    QHash<QString, QImage> thumbnails;                        // file name -> thumbnail
    QSet<QString> quickPreviews;
    mutable std::atomic<int> decodeCalls = 0;
    mutable std::atomic<int> thumbnailCalls = 0;
    mutable std::atomic<int> listings = 0;     // calls of supportedExtensions()
    mutable std::atomic<int> blockedReads = 0; // readProperties calls that had to wait
    mutable std::atomic<int> saveCalls = 0;
    QSet<QString> savable;

private:
    void waitFor(const QString &fileName, bool always) const;
    // Changes what held-back calls wait for, and wakes them.
    template <class T, class V> void locked(T &field, const V &value)
    {
        QMutexLocker lock(&mutex_);
        if constexpr (std::is_same_v<T, QSet<QString>>)
            field.insert(value);
        else
            field = value;
        released_.wakeAll();
    }
    QSet<QString> extensions_{u"jpg"_s, u"jpeg"_s, u"png"_s, u"gif"_s, u"heic"_s, u"tif"_s};
    mutable QMutex mutex_;
    mutable QWaitCondition released_;
    bool gated_ = false;
    bool releasedAll_ = false;
    QSet<QString> releasedNames_;
    QSet<QString> blockedProperties_;
};

// The file name an image from FakeImageService stands for.
inline QString sourceFileOf(const std::optional<DecodedImage> &image)
{
    return image && image->bitmap ? image->bitmap->text(u"file"_s) : QString();
}

class FakeScreens final : public ScreenInfo {
public:
    QList<ScreenGeometry> screens() const override { return list; }
    QList<ScreenGeometry> list;
};

// Watches that fire only when the test says so.
class FakeWatcherFactory final : public DirectoryWatcherFactory {
public:
    std::unique_ptr<DirectoryWatcher> watch(const QUrl &folder,
                                            std::function<void()> onChange) override
    {
        struct Watch final : DirectoryWatcher {
            QUrl folder;
            std::shared_ptr<std::function<void()>> onChange;
            QUrl directory() const override { return folder; }
            bool isWatching() const override { return true; }
        };
        auto w = std::make_unique<Watch>();
        w->folder = folder;
        w->onChange = std::make_shared<std::function<void()>>(std::move(onChange));
        watches_.emplace_back(folder, w->onChange);
        return w;
    }
    // Delivers one event batch to every live watcher of `folder`.
    void fire(const QUrl &folder)
    {
        for (const auto &[watched, weak] : std::vector(watches_))
            if (const auto onChange = weak.lock(); onChange && watched == folder)
                (*onChange)();
    }

private:
    std::vector<std::pair<QUrl, std::weak_ptr<std::function<void()>>>> watches_;
};

class FakeTagStore final : public TagStore {
public:
    QStringList readTags(const QUrl &url) const override { return tags.value(url.fileName()); }
    std::optional<QString> writeTags(const QUrl &url, const QStringList &list) override
    {
        if (!writeError)
            tags.insert(url.fileName(), list);
        return writeError;
    }
    QHash<QString, QStringList> tags;
    std::optional<QString> writeError;
};

// A pointer that never moves; counts pointer hides.
class FakePointer final : public PointerEvents {
public:
    std::unique_ptr<Monitor> addMouseMovedMonitor(std::function<void(QWindow *)>) override
    {
        return std::make_unique<Monitor>();
    }
    void hidePointerUntilMouseMoves() override { ++hides; }
    int hides = 0;
};

// For tests that do nothing to files: every change is refused. Tests of file operations use
// the real implementation on temporary folders.
class RefusingFileOperations final : public FileOperations {
public:
    FileOutcome rename(const QUrl &, const QString &) override { return refused(); }
    FileOutcome moveToFolder(const QUrl &, const QUrl &) override { return refused(); }
    FileOutcome copyToFolder(const QUrl &, const QUrl &) override { return refused(); }
    bool hasUsableTrash(const QUrl &) const override { return false; }
    std::optional<QString> moveToTrash(const QUrl &) override { return refused().error; }
    std::optional<QString> remove(const QUrl &) override { return refused().error; }

private:
    static FileOutcome refused()
    {
        return FileOutcome::failure(QStringLiteral("Operation not permitted"));
    }
};

// A desktop without applications that keeps what is copied to the clipboard.
class FakeDesktop final : public DesktopServices {
public:
    QList<DesktopApplication> applicationsForFile(const QUrl &) const override { return {}; }
    QString ownApplicationIdentifier() const override { return QStringLiteral("orva.desktop"); }
    void openWith(const QUrl &, const QUrl &) override {}
    void reveal(const QUrl &) override {}
    void copyImageToClipboard(const QImage &image) override { clipboard.append(image); }
    QList<QImage> clipboard;
};

// Everything a viewer state needs: by default the fakes above and a virtual clock; tests on
// real folders put real services in their place. The task runtime comes last so that it is
// destroyed first, waiting for background work that still uses the other services.
template <class Images = FakeImageService, class Watchers = FakeWatcherFactory,
          class Files = RefusingFileOperations, class Desktop = FakeDesktop>
struct ServicesWith {
    // A test that failed half-way leaves no background work waiting for a release.
    ~ServicesWith()
    {
        if constexpr (requires { images.releaseAll(); })
            images.releaseAll();
    }
    MemorySettingsStore settings;
    VirtualScheduler scheduler;
    Images images;
    FakeScreens screens;
    Watchers watchers;
    FakeTagStore tags;
    FakePointer pointer;
    Files files;
    Desktop desktop;
    ThumbnailCache thumbnails{images, tasks}; // outlives the runtime's work
    TaskRuntime tasks;
    AppServices services{settings, scheduler, tasks, images,  screens,   watchers,
                         tags,     pointer,   files, desktop, thumbnails};
};
using TestServices = ServicesWith<>;

} // namespace orva::test
