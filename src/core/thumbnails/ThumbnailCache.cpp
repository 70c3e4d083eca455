#include "core/thumbnails/ThumbnailCache.h"

#include "core/services/ImageService.h"
#include "core/services/ThumbnailStore.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>

namespace orva {

namespace {

QImage boundedTo(const QImage &image, int side)
{
    if (image.width() <= side && image.height() <= side)
        return image;
    return image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

std::optional<QImage> makeCachedThumbnail(const ImageService &images, const ThumbnailStore *store,
                                          const QUrl &url)
{
    // Taken before decoding, so that an entry never claims contents newer than it shows.
    const QDateTime modified = QFileInfo(url.toLocalFile()).lastModified();
    if (store) {
        if (std::optional<QImage> stored = store->load(url))
            return boundedTo(*stored, thumbnailPixelSize);
    }
    const int side = store ? std::max(store->pixelSize(), thumbnailPixelSize) : thumbnailPixelSize;
    std::optional<QImage> made = images.makeThumbnail(url, side);
    if (!made || made->isNull()) {
        if (store && !CancellationToken::current().isCancelled())
            store->saveFailure(url, modified);
        return std::nullopt;
    }
    if (store)
        store->save(url, *made, modified);
    return boundedTo(*made, thumbnailPixelSize);
}

ThumbnailCache::ThumbnailCache(const ImageService &images, TaskRuntime &tasks,
                               const ThumbnailStore *store, QObject *parent)
    : QObject(parent), images_(images), tasks_(tasks), store_(store)
{
    cache_.setMaxCost(thumbnailCacheLimit);
}

std::optional<QImage> ThumbnailCache::cached(const QUrl &url) const
{
    if (const QImage *image = cache_.object(url))
        return *image;
    return std::nullopt;
}

ThumbnailCache::Flight ThumbnailCache::flightFor(const QUrl &url)
{
    if (auto it = inFlight_.constFind(url); it != inFlight_.constEnd())
        return *it;
    Flight flight;
    flight.generation = generation(url);
    const ImageService *images = &images_;
    const ThumbnailStore *store = store_;
    flight.task =
        tasks_.run(TaskPriority::utility, [images, store, url](const CancellationToken &) {
            return makeCachedThumbnail(*images, store, url);
        });
    inFlight_.insert(url, flight);
    // Registered before any awaiter, so the cache is up to date when they run.
    flight.task.then(this, [this, url, flight](const std::optional<QImage> &result) {
        if (auto it = inFlight_.find(url); it != inFlight_.end() && it->task == flight.task)
            inFlight_.erase(it);
        if (!result || flight.generation != generation(url))
            return; // failures are not remembered; stale contents are not kept
        cache_.insert(url, new QImage(*result), 1);
        emit thumbnailStored(url);
    });
    return flight;
}

void ThumbnailCache::thumbnailForURL(const QUrl &url, QObject *context, Callback fn)
{
    if (!context || !fn)
        return;
    if (std::optional<QImage> image = cached(url)) {
        QMetaObject::invokeMethod(
            context, [fn = std::move(fn), image = std::move(image)] { fn(image); },
            Qt::QueuedConnection);
        return;
    }
    const Flight flight = flightFor(url);
    QPointer<QObject> guard(context);
    QPointer<ThumbnailCache> self(this);
    flight.task.then(context, [self, url, guard, fn = std::move(fn),
                               generation = flight.generation](const std::optional<QImage> &r) {
        if (self && generation != self->generation(url)) {
            // Made from what the file held before it changed: ask again.
            if (guard)
                self->thumbnailForURL(url, guard, fn);
            return;
        }
        fn(r);
    });
}

void ThumbnailCache::invalidateThumbnail(const QUrl &url)
{
    cache_.remove(url);
    inFlight_.remove(url);
    generations_[url] = generation(url) + 1;
    if (store_) {
        const ThumbnailStore *store = store_;
        tasks_.run(TaskPriority::utility, [store, url](const CancellationToken &) {
            store->remove(url);
            return true;
        });
    }
    emit thumbnailInvalidated(url);
}

} // namespace orva
