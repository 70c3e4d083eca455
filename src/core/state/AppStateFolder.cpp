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
    if (!directoryWatcher_ || directoryWatcher_->directory() != folder) {
        directoryWatcher_.reset(); // the old watch stops even if the new one fails
        const QPointer<AppState> self(this);
        directoryWatcher_ = services_.watchers.watch(folder, [self] {
            if (self)
                self->scheduleRescan();
        });
    }
    const std::optional<QUrl> including = currentURL_;
    const Settings s = settings();
    const SortOrder order = currentSortOrder(s);
    const bool descending = s.sortDescending();
    const ImageService &images = services_.images;
    services_.tasks
        .run(TaskPriority::userInitiated,
             [=, &images](const CancellationToken &) {
                 return listImageFiles(folder, including, order, descending, images);
             })
        .then(this, [this, folder](const std::optional<QList<QUrl>> &files) {
            // A listing of a folder the window has left (or emptied) is dropped.
            if (currentURL_ && folderOf(*currentURL_) == folder)
                applyListing(files.value_or(QList<QUrl>()));
        });
}

void AppState::applyListing(const QList<QUrl> &files)
{
    if (!currentURL_)
        return;
    const qsizetype k = files.indexOf(*currentURL_);
    setImageFiles(files);
    if (k >= 0) {
        setCurrentIndex(int(k));
        prefetchNeighbours();
    } else {
        showIndexClamped(currentIndex_);
    }
}

void AppState::scheduleRescan()
{
    rescanTask_ = services_.scheduler.after(rescanDebounce, [this] {
        if (currentURL_)
            scanFolder(folderOf(*currentURL_));
    });
}

void AppState::rescanCurrentFolder()
{
    if (currentURL_)
        scanFolder(folderOf(*currentURL_));
}

} // namespace orva
