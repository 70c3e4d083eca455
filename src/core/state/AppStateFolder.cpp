// Keeping the folder list current: the scan in the background, installing a listing
// without disturbing the shown image, and the debounced rescan after folder events.
#include "core/listing/FolderListing.h"
#include "core/services/ImageService.h"
#include "core/state/AppState.h"

namespace orva {

namespace {
constexpr double rescanDebounce = 0.3;
}

void AppState::scanFolder(const QUrl &folder)
{
    // A watch whose folder was moved away, deleted or replaced by another at the same path
    // no longer reports what happens there: watch again.
    if (!directoryWatcher_ || directoryWatcher_->directory() != folder ||
        !directoryWatcher_->isWatching()) {
        directoryWatcher_.reset(); // the old watch stops even if the new one fails
        const QPointer<AppState> self(this);
        directoryWatcher_ = services_.watchers.watch(folder, [self] {
            if (self)
                self->scheduleRescan();
        });
    }
    // An older listing (a slow date sort) finishing late must not bring back files a
    // newer one no longer saw.
    const int scan = ++scanNumber_;
    scanTask_.cancel();
    scanTask_ = listFolder(folder, currentURL_);
    scanTask_.then(this, [this, folder, scan](const std::optional<QList<QUrl>> &files) {
        if (scan != scanNumber_)
            return;
        // A listing of a folder the window has left (or emptied) is dropped.
        if (currentURL_ && folderOf(*currentURL_) == folder)
            applyListing(files.value_or(QList<QUrl>()));
    });
}

bool AppState::forgetChangedDecodes()
{
    bool currentChanged = false;
    for (auto it = loadTasks_.begin(); it != loadTasks_.end();) {
        if (it->identity == fileIdentity(it.key())) {
            ++it;
            continue;
        }
        currentChanged = currentChanged || (currentURL_ && it.key() == *currentURL_);
        it->task.cancel();
        invalidateThumbnail(it.key());
        it = loadTasks_.erase(it);
    }
    return currentChanged;
}

Task<QList<QUrl>> AppState::listFolder(const QUrl &folder, const std::optional<QUrl> &including)
{
    const Settings s = settings();
    const SortOrder order = currentSortOrder(s);
    const bool descending = s.sortDescending();
    const ImageService &images = services_.images;
    return services_.tasks.run(
        TaskPriority::userInitiated, [=, &images](const CancellationToken &) {
            return listImageFiles(folder, including, order, descending, images);
        });
}

void AppState::applyListing(const QList<QUrl> &files)
{
    if (!currentURL_ || showingFolder_) // a folder's own listing is applied when opening it
        return;
    const qsizetype k = files.indexOf(*currentURL_);
    setImageFiles(files);
    const bool shownFileChanged = forgetChangedDecodes();
    if (k >= 0) {
        setCurrentIndex(int(k));
        // The shown file was rewritten or replaced (an editor's save), or its decode
        // failed (perhaps a copy still arriving): show what is on disk now.
        if (shownFileChanged || !loadTasks_.contains(*currentURL_))
            showFile(*currentURL_);
        else
            prefetchNeighbours();
    } else {
        showIndexClamped(currentIndex_);
    }
}

void AppState::scheduleRescan()
{
    rescanTask_ = services_.scheduler.after(rescanDebounce, [this] {
        if (currentURL_ && !showingFolder_)
            scanFolder(folderOf(*currentURL_));
    });
}

void AppState::rescanCurrentFolder()
{
    // A folder opened without images is looked at again: it may have some by now.
    if (showingFolder_ && currentURL_ && isCurrentFileLoaded()) {
        openFolder(*currentURL_);
        return;
    }
    if (currentURL_ && !showingFolder_)
        scanFolder(folderOf(*currentURL_));
}

void AppState::windowActivated() { scheduleRescan(); }

} // namespace orva
