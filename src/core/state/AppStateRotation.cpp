// Rotation by quarter turns: written into the file when its type allows, otherwise kept
// as a display-only turn of the decoded image.
#include "core/services/ImageService.h"
#include "core/state/AppState.h"

namespace orva {

void AppState::rotate(int quarterTurns)
{
    if (!currentURL_ || !currentImage_)
        return;
    const QUrl url = *currentURL_;
    const int generation = loadGeneration_;
    const ImageService &images = services_.images;
    services_.tasks
        .run(TaskPriority::userInitiated,
             [url, quarterTurns, &images](const CancellationToken &) {
                 return images.saveRotation(url, quarterTurns);
             })
        .then(this, [this, url, quarterTurns, generation](const std::optional<bool> &saved) {
            if (saved && *saved) {
                reloadRewrittenFile(url);
                return;
            }
            if (generation != loadGeneration_)
                return; // the user has moved on
            rotationSteps_ = (rotationSteps_ + quarterTurns % 4 + 4) % 4;
            renderCurrentImage();
        });
}

// The file on disk changed, whether or not the user has moved on meanwhile: a decode of
// its old contents must not be shown again, and if it is on screen (also after an earlier
// save's reload) it is read anew.
void AppState::reloadRewrittenFile(const QUrl &url)
{
    invalidateThumbnail(url);
    if (const auto it = loadTasks_.find(url); it != loadTasks_.end()) {
        it->task.cancel();
        loadTasks_.erase(it);
    }
    if (currentURL_ == url)
        showFile(url);
}

} // namespace orva
