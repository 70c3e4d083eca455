// Opening, stepping through the folder, and the two-tier load: a screen-sized preview for
// every shown file (with neighbours decoded ahead), the full image only while zoomed in.
#include "core/listing/FolderListing.h"
#include "core/metadata/MetadataRows.h"
#include "core/services/ImageService.h"
#include "core/services/ScreenInfo.h"
#include "core/services/TagStore.h"
#include "core/state/AppState.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace orva {

namespace {
constexpr double fullResolutionDebounce = 0.25;
constexpr double oneFrame = 1.0 / 60;
constexpr double resolutionMargin = 1.05;
constexpr int defaultScreenPixelSize = 2560;
} // namespace

void AppState::open(const QUrl &url)
{
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir()) {
        openFolder(standardizedFileUrl(url));
        return;
    }
    if (!services_.images.isSupportedImageFile(url)) {
        setErrorMessage(QStringLiteral("\"") + url.fileName() +
                        QCoreApplication::translate("Orva", "\" is not an image Orva can open."));
        return;
    }
    const QUrl u = standardizedFileUrl(url);
    setImageFiles({u});
    setCurrentIndex(0);
    showFile(u);
    resetZoomRequest();
    scanFolder(folderOf(u));
}

void AppState::openFolder(const QUrl &folder)
{
    // The folder stands in as the shown file while it is listed, so that a window given a
    // folder counts as taken and its title names it.
    if (currentURL_ != folder) {
        setLoadFailure(std::nullopt);
        setLoadFailed(false);
    }
    showingFolder_ = true;
    dropLoads();
    setImageFiles({});
    setCurrentIndex(0);
    setCurrentURL(folder);
    setCurrentImage(std::nullopt);
    sourceImage_.reset();
    setMetadata({});
    setCurrentTags({});
    const int generation = loadGeneration_;
    listFolder(folder, std::nullopt)
        .then(this, [this, folder, generation](const std::optional<QList<QUrl>> &files) {
            if (generation != loadGeneration_ || currentURL_ != folder)
                return;
            if (!files || files->isEmpty()) {
                appliedGeneration_ = generation;
                setLoadFailure(LoadFailure{folder, DecodeFailure::noImages});
                setLoadFailed(true);
                return;
            }
            setImageFiles(*files);
            setCurrentIndex(0);
            showFile(files->front());
            resetZoomRequest();
            scanFolder(folder);
        });
}

void AppState::showFile(const QUrl &url)
{
    showingFolder_ = false;
    setCurrentURL(url);
    rotationSteps_ = 0;
    setCurrentTags(services_.tags.readTags(url));
    const int generation = ++loadGeneration_;
    fullResolutionTask_.cancel();
    fullResolutionTask_ = {};
    const Task<DecodeOutcome> preview = loadTask(url);
    const bool decodedAhead = preview.isFinished();
    if (!decodedAhead)
        showQuickPreview(url, generation); // ahead of the neighbours' decodes
    // Until the preview arrives the previous image stays on screen; nothing blanks.
    preview.then(this, [this, url, generation](const std::optional<DecodeOutcome> &outcome) {
        if (generation != loadGeneration_)
            return;
        appliedGeneration_ = generation;
        const std::optional<DecodedImage> result = outcome ? outcome->image : std::nullopt;
        sourceImage_ = result;
        setLoadFailure(result ? std::nullopt
                              : std::optional(LoadFailure{
                                    url, outcome ? outcome->failure : DecodeFailure::unreadable}));
        setLoadFailed(!result);
        setCurrentImage(result);
        resetAnimation();
        scheduleFullResolutionCheck();
    });
    // A file decoded ahead is drawn at once: what the step newly needs (its metadata, the
    // next neighbour's decode) waits a frame rather than compete with that first frame.
    auto rest = [this, url, generation] {
        prefetchNeighbours();
        const ImageService &images = services_.images;
        services_.tasks
            .run(TaskPriority::userInitiated,
                 [url, &images](const CancellationToken &) {
                     return readMetadataEntries(url, images);
                 })
            .then(this, [this, generation](const std::optional<QList<MetadataEntry>> &rows) {
                if (generation == loadGeneration_ && rows)
                    setMetadata(*rows);
            });
    };
    stepFollowUp_.cancel();
    if (decodedAhead)
        stepFollowUp_ = services_.scheduler.after(oneFrame, std::move(rest));
    else
        rest();
}

void AppState::showQuickPreview(const QUrl &url, int generation)
{
    const ImageService &images = services_.images;
    services_.tasks
        .run(TaskPriority::userInitiated,
             [url, &images](const CancellationToken &) { return images.decodeQuickPreview(url); })
        .then(this, [this, generation](const std::optional<DecodedImage> &quick) {
            // Only while the file's own preview has not arrived.
            if (quick && generation == loadGeneration_ && appliedGeneration_ != generation)
                setCurrentImage(quick);
        });
}

namespace {

int largestScreenSide(const ScreenInfo &screens)
{
    double largest = 0;
    for (const ScreenGeometry &s : screens.screens())
        largest = std::max(largest, std::max(s.size.width(), s.size.height()) * s.scale);
    return largest >= 1 ? int(largest) : defaultScreenPixelSize;
}

Task<DecodeOutcome> runPreviewDecode(TaskRuntime &tasks, const ImageService &images,
                                     const QUrl &url, int bound)
{
    return tasks.run(
        TaskPriority::userInitiated,
        [url, bound, &images](const CancellationToken &token) -> std::optional<DecodeOutcome> {
            DecodeOutcome outcome = images.decodeWithReason(url, bound);
            if (!outcome.image && token.isCancelled())
                return std::nullopt; // given up, not failed
            return outcome;
        });
}

} // namespace

std::optional<AppState::StartedLoad> AppState::startLoad(const AppServices &services,
                                                         const QUrl &url)
{
    if ((url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir()) ||
        !services.images.isSupportedImageFile(url))
        return std::nullopt;
    StartedLoad load{
        standardizedFileUrl(url), std::nullopt, largestScreenSide(services.screens), {}};
    load.identity = fileIdentity(load.url); // before the decode reads the file
    load.task = runPreviewDecode(services.tasks, services.images, load.url, load.bound);
    return load;
}

void AppState::adoptLoad(StartedLoad load)
{
    if (load.bound != maxScreenPixelSize() || loadTasks_.contains(load.url)) {
        load.task.cancel();
        return;
    }
    trackLoad(load.url, load.task, load.identity);
}

Task<DecodeOutcome> AppState::loadTask(const QUrl &url)
{
    const std::optional<FileIdentity> identity = fileIdentity(url);
    if (const auto it = loadTasks_.find(url); it != loadTasks_.end()) {
        if (it->identity == identity)
            return it->task;
        // Replaced or rewritten since: what was decoded is not what is on disk.
        it->task.cancel();
        loadTasks_.erase(it);
    }
    const Task<DecodeOutcome> task =
        runPreviewDecode(services_.tasks, services_.images, url, maxScreenPixelSize());
    trackLoad(url, task, identity);
    return task;
}

void AppState::trackLoad(const QUrl &url, const Task<DecodeOutcome> &task,
                         const std::optional<FileIdentity> &identity)
{
    loadTasks_.insert(url, {task, identity});
    task.then(this, [this, url, task](const std::optional<DecodeOutcome> &outcome) {
        const auto it = loadTasks_.find(url);
        if (it == loadTasks_.end() || !(it->task == task))
            return;
        // Views prepare what they draw while the file is still only a neighbour.
        if (outcome && outcome->image) {
            emit imageDecoded(url, *outcome->image);
            return;
        }
        // A failure is not kept: the file may be a copy still being written, so the next
        // look at it decodes again.
        loadTasks_.erase(it);
    });
}

int AppState::maxScreenPixelSize() const { return largestScreenSide(services_.screens); }

void AppState::prefetchNeighbours()
{
    if (!currentURL_)
        return;
    QList<QUrl> keep{*currentURL_};
    const qsizetype n = imageFiles_.size();
    if (n >= 2) {
        const int d = navigationDirection_;
        for (const int offset : {d, 2 * d, -d}) {
            const QUrl &u = imageFiles_[((currentIndex_ + offset) % n + n) % n];
            if (!keep.contains(u))
                keep.push_back(u);
        }
    }
    for (auto it = loadTasks_.begin(); it != loadTasks_.end();) {
        if (keep.contains(it.key())) {
            ++it;
        } else {
            it->task.cancel();
            it = loadTasks_.erase(it);
        }
    }
    // Only showFile() starts the shown file's decode: one started here would never be
    // shown, yet would make the next listing take the file for shown (a failed copy that
    // has since arrived would stay a failure).
    for (const QUrl &u : keep.mid(1))
        loadTask(u);
}

void AppState::cancelPrefetches()
{
    for (auto it = loadTasks_.begin(); it != loadTasks_.end();) {
        if (currentURL_ && it.key() == *currentURL_) {
            ++it;
        } else {
            it->task.cancel();
            it = loadTasks_.erase(it);
        }
    }
}

void AppState::navigate(int offset)
{
    const qsizetype n = imageFiles_.size();
    if (n <= 1)
        return;
    navigationDirection_ = offset < 0 ? -1 : +1;
    const int j = int(((currentIndex_ + offset) % n + n) % n);
    setCurrentIndex(j);
    showFile(imageFiles_[j]);
}

void AppState::goToIndex(int index)
{
    if (index < 0 || index >= imageFiles_.size() || index == currentIndex_)
        return;
    setCurrentIndex(index);
    showFile(imageFiles_[index]);
}

void AppState::removeFromList(const QUrl &url)
{
    if (const auto it = loadTasks_.find(url); it != loadTasks_.end()) {
        it->task.cancel();
        loadTasks_.erase(it);
    }
    qsizetype i = imageFiles_.indexOf(url);
    if (i < 0)
        i = currentIndex_;
    if (i >= 0 && i < imageFiles_.size()) {
        QList<QUrl> files = imageFiles_;
        files.removeAt(i);
        setImageFiles(files);
    }
    showIndexClamped(int(i));
}

void AppState::showIndexClamped(int index)
{
    if (imageFiles_.isEmpty()) {
        clearViewer();
        return;
    }
    const int j = std::clamp(index, 0, int(imageFiles_.size()) - 1);
    setCurrentIndex(j);
    showFile(imageFiles_[j]);
}

void AppState::dropLoads()
{
    ++loadGeneration_;
    stepFollowUp_.cancel();
    fullResolutionTask_.cancel();
    fullResolutionTask_ = {};
    for (LoadEntry &e : loadTasks_)
        e.task.cancel();
    loadTasks_.clear();
    directoryWatcher_.reset();
}

void AppState::clearViewer()
{
    stopSlideshow();
    dropLoads();
    showingFolder_ = false;
    setCurrentURL(std::nullopt);
    setCurrentImage(std::nullopt);
    sourceImage_.reset();
    setLoadFailure(std::nullopt);
    setLoadFailed(false);
    setMetadata({});
    setCurrentTags({});
    setAnimationFrameCount(0);
    setCurrentIndex(0);
}

void AppState::scheduleFullResolutionCheck()
{
    fullResolutionCheck_ =
        services_.scheduler.after(fullResolutionDebounce, [this] { checkFullResolution(); });
}

void AppState::checkFullResolution()
{
    if (!currentURL_)
        return;
    const auto it = loadTasks_.constFind(*currentURL_);
    if (it == loadTasks_.constEnd())
        return;
    const QUrl url = *currentURL_;
    const double scale = window_ ? window_->devicePixelRatio() : 2.0;
    const int generation = loadGeneration_;
    it->task.then(this, [this, url, scale, generation](const std::optional<DecodeOutcome> &out) {
        const std::optional<DecodedImage> preview = out ? out->image : std::nullopt;
        if (!preview || generation != loadGeneration_)
            return;
        const bool tooCoarse = preview->resolution < 1.0 &&
                               preview->resolution * resolutionMargin < scale * magnification_;
        if (tooCoarse) {
            if (fullResolutionTask_.isValid())
                return;
            const ImageService &images = services_.images;
            fullResolutionTask_ = services_.tasks.run(
                TaskPriority::userInitiated, [url, &images](const CancellationToken &) {
                    return images.decodeImage(url, std::nullopt);
                });
            const Task<DecodedImage> task = fullResolutionTask_;
            task.then(this, [this, task, generation](const std::optional<DecodedImage> &full) {
                if (generation != loadGeneration_ || task.isCancelled() || !full)
                    return;
                sourceImage_ = full;
                renderCurrentImage();
            });
        } else if (fullResolutionTask_.isValid()) {
            // Zoomed back out: release the full image and return to the preview.
            fullResolutionTask_.cancel();
            fullResolutionTask_ = {};
            sourceImage_ = preview;
            renderCurrentImage();
        }
    });
}

void AppState::renderCurrentImage()
{
    if (!sourceImage_)
        return;
    if (rotationSteps_ == 0) {
        setCurrentImage(sourceImage_);
        resetAnimation();
        return;
    }
    const int generation = loadGeneration_;
    const int steps = rotationSteps_;
    const ImageService &images = services_.images;
    services_.tasks
        .run(TaskPriority::userInitiated,
             [source = *sourceImage_, steps, &images](const CancellationToken &) {
                 return images.rotateDecodedImage(source, steps);
             })
        .then(this, [this, generation, steps](const std::optional<DecodedImage> &rotated) {
            // A newer file or a further turn has overtaken this result.
            if (!rotated || generation != loadGeneration_ || steps != rotationSteps_)
                return;
            setCurrentImage(rotated);
            resetAnimation(); // a turned animation is a still image
        });
}

void AppState::resetAnimation()
{
    const bool animated =
        currentImage_ && currentImage_->image && currentImage_->image->isAnimated();
    setAnimationFrameCount(animated ? int(currentImage_->image->frames.size()) : 0);
    // Frame first: views resume playback on the unpause and must start from frame 0.
    displayedAnimationFrame_ = 0;
    setAnimationFrame(0);
    setAnimationPaused(false);
}

void AppState::toggleAnimationPause()
{
    if (animationFrameCount_ < 2)
        return;
    if (!isAnimationPaused_)
        setAnimationFrame(std::clamp(displayedAnimationFrame_, 0, animationFrameCount_ - 1));
    setAnimationPaused(!isAnimationPaused_);
}

void AppState::stepAnimationFrame(int step)
{
    const int count = animationFrameCount_;
    if (count <= 1)
        return;
    if (!isAnimationPaused_)
        toggleAnimationPause();
    setAnimationFrame(((animationFrame_ + step) % count + count) % count);
}

} // namespace orva
