#pragma once

#include "core/runtime/TaskRuntime.h"

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QUrl>

#include <functional>
#include <optional>

namespace orva {

class ImageService;
class ThumbnailStore;

// Longer side of the thumbnails of the strip and the blurred background: a 44-point cell
// at twice the pixel density.
inline constexpr int thumbnailPixelSize = 120;
inline constexpr int thumbnailCacheLimit = 500;

// Made on a background thread: a valid entry of the disk store serves without decoding;
// otherwise the file's thumbnail is made, and written to the store for other programs.
std::optional<QImage> makeCachedThumbnail(const ImageService &images, const ThumbnailStore *store,
                                          const QUrl &url);

// The application's one cache of small thumbnails, shared by every window's strip and
// blurred background. Main thread only. Each file is decoded at most once at a time (every
// awaiter shares the decode); at most `thumbnailCacheLimit` results are kept, least
// recently used going first; failures are not remembered, so a later request tries again.
class ThumbnailCache : public QObject {
    Q_OBJECT

public:
    using Callback = std::function<void(const std::optional<QImage> &)>;

    ThumbnailCache(const ImageService &images, TaskRuntime &tasks,
                   const ThumbnailStore *store = nullptr, QObject *parent = nullptr);

    // The kept thumbnail, without starting any work.
    std::optional<QImage> cached(const QUrl &url) const;
    // Calls `fn` on the main thread, always later than this call, unless `context` is
    // destroyed first. A result made from contents older than the last
    // invalidateThumbnail(url) is never delivered: the thumbnail is made again.
    void thumbnailForURL(const QUrl &url, QObject *context, Callback fn);
    // The file changed, was renamed or went away: its kept thumbnail (in memory and on
    // disk) is dropped and a decode still running for it will not be kept.
    void invalidateThumbnail(const QUrl &url);

    int count() const { return int(cache_.count()); }
    bool isInFlight(const QUrl &url) const { return inFlight_.contains(url); }

signals:
    // A thumbnail was kept for `url`.
    void thumbnailStored(const QUrl &url);
    void thumbnailInvalidated(const QUrl &url);

private:
    struct Flight {
        Task<QImage> task;
        quint64 generation = 0;
    };
    quint64 generation(const QUrl &url) const { return generations_.value(url, 0); }
    Flight flightFor(const QUrl &url);

    const ImageService &images_;
    TaskRuntime &tasks_;
    const ThumbnailStore *store_;
    QCache<QUrl, QImage> cache_;
    QHash<QUrl, Flight> inFlight_;
    QHash<QUrl, quint64> generations_; // bumped by every invalidation
};

} // namespace orva
