#pragma once

#include "core/listing/FolderListing.h"
#include "core/model/DecodedImage.h"
#include "core/model/Enums.h"
#include "core/model/FinderTag.h"
#include "core/model/MetadataEntry.h"
#include "core/model/OpenWithApp.h"
#include "core/runtime/Scheduler.h"
#include "core/runtime/TaskRuntime.h"
#include "core/services/DirectoryWatcher.h"
#include "core/services/PointerEvents.h"
#include "core/settings/Settings.h"
#include "core/state/AppServices.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QStringList>
#include <QUrl>
#include <QWindow>

#include <limits>
#include <memory>
#include <optional>

namespace orva {

// The file (or folder) that could not be shown, and why.
struct LoadFailure {
    QUrl url;
    DecodeFailure reason = DecodeFailure::unreadable;
    bool operator==(const LoadFailure &) const = default;
};

// The observable record of one viewer window: what it shows, how, and the background
// work serving it. Main thread only. Every observed field has a change signal that fires
// only when a write stores a different value.
class AppState : public QObject {
    Q_OBJECT

public:
    explicit AppState(const AppServices &services, QObject *parent = nullptr);
    ~AppState() override;

    // A preview decode started before its window exists (the file given at launch), for
    // the window's state to take over instead of decoding the file again.
    struct StartedLoad {
        QUrl url;
        std::optional<FileIdentity> identity; // of the file when the decode started
        int bound = 0;
        Task<DecodeOutcome> task;
    };
    // Starts the preview decode of an image file; nothing for a folder or another file.
    static std::optional<StartedLoad> startLoad(const AppServices &services, const QUrl &url);
    // Keeps the decode for the next open of its file, which checks the file's identity
    // as usual; one decoded for other screens is cancelled.
    void adoptLoad(StartedLoad load);

    // --- observed fields ---
    const std::optional<QUrl> &currentURL() const { return currentURL_; }
    void setCurrentURL(const std::optional<QUrl> &url);
    const std::optional<DecodedImage> &currentImage() const { return currentImage_; }
    void setCurrentImage(const std::optional<DecodedImage> &image);
    bool loadFailed() const { return loadFailed_; }
    void setLoadFailed(bool failed);
    // What failed and why, while loadFailed is true.
    const std::optional<LoadFailure> &loadFailure() const { return loadFailure_; }
    void setLoadFailure(const std::optional<LoadFailure> &failure);
    const QList<QUrl> &imageFiles() const { return imageFiles_; }
    void setImageFiles(const QList<QUrl> &files);
    int currentIndex() const { return currentIndex_; }
    void setCurrentIndex(int index);
    const QList<MetadataEntry> &metadata() const { return metadata_; }
    void setMetadata(const QList<MetadataEntry> &rows);

    // Persisted: every set writes the setting, equal or not.
    DisplayMode displayMode() const { return displayMode_; }
    void setDisplayMode(DisplayMode mode);
    OverlayMode overlayMode() const { return overlayMode_; }
    void setOverlayMode(OverlayMode mode);
    bool showThumbnailBar() const { return showThumbnailBar_; }
    void setShowThumbnailBar(bool show);

    const std::optional<ZoomAction> &zoomAction() const { return zoomAction_; }
    void setZoomAction(const std::optional<ZoomAction> &action);
    double magnification() const { return magnification_; }
    void setMagnification(double magnification);
    QRectF visibleRect() const { return visibleRect_; }
    void setVisibleRect(const QRectF &rect);
    const std::optional<QPointF> &scrollTarget() const { return scrollTarget_; }
    void setScrollTarget(const std::optional<QPointF> &target);
    bool isNavigatorDragging() const { return isNavigatorDragging_; }
    void setNavigatorDragging(bool dragging);
    bool isSlideshowRunning() const { return isSlideshowRunning_; }
    void setSlideshowRunning(bool running);
    const QStringList &currentTags() const { return currentTags_; }
    void setCurrentTags(const QStringList &tags);
    int animationFrameCount() const { return animationFrameCount_; }
    void setAnimationFrameCount(int count);
    bool isAnimationPaused() const { return isAnimationPaused_; }
    void setAnimationPaused(bool paused);
    int animationFrame() const { return animationFrame_; }
    void setAnimationFrame(int frame);
    bool showRenamePrompt() const { return showRenamePrompt_; }
    void setShowRenamePrompt(bool show);
    const QString &renameText() const { return renameText_; }
    void setRenameText(const QString &text);
    bool showDeleteConfirmation() const { return showDeleteConfirmation_; }
    void setShowDeleteConfirmation(bool show);
    bool deleteIsPermanent() const { return deleteIsPermanent_; }
    void setDeleteIsPermanent(bool permanent);
    const std::optional<QString> &errorMessage() const { return errorMessage_; }
    void setErrorMessage(const std::optional<QString> &message);
    bool showStatusBar() const { return showStatusBar_; }
    void setShowStatusBar(bool show);
    const ScheduledAction &hideStatusBarTask() const { return hideStatusBarTask_; }
    void setHideStatusBarTask(ScheduledAction task);
    double hideStatusBarDeadline() const { return hideStatusBarDeadline_; }
    void setHideStatusBarDeadline(double deadline);

    // --- plain storage (never notifies) ---
    QWindow *window() const { return window_; }
    void setWindow(QWindow *window) { window_ = window; }
    bool slideshowEnteredFullScreen() const { return slideshowEnteredFullScreen_; }
    int loadGeneration() const { return loadGeneration_; }
    // The shown file's preview (or its failure) has arrived.
    bool isCurrentFileLoaded() const { return appliedGeneration_ == loadGeneration_; }
    const std::optional<DecodedImage> &sourceImage() const { return sourceImage_; }
    int rotationSteps() const { return rotationSteps_; }
    int navigationDirection() const { return navigationDirection_; }

    const DirectoryWatcher *directoryWatcher() const { return directoryWatcher_.get(); }
    // Files whose preview decodes are in flight or kept (the current file and neighbours).
    QList<QUrl> loadTaskURLs() const { return loadTasks_.keys(); }
    bool hasFullResolutionTask() const { return fullResolutionTask_.isValid(); }

    // --- navigation and loading (AppStateNavigation.cpp) ---
    // Shows a supported file alone, then lists its folder; an unsupported one only raises
    // the error alert. A folder shows its first image in the sort order (or, without
    // images, the failure notice saying so).
    void open(const QUrl &url);
    // Steps through the folder with wrap-around.
    void navigate(int offset);
    void goToIndex(int index);
    // Drops a file that left the folder and shows its successor (or the new last file).
    void removeFromList(const QUrl &url);
    void showIndexClamped(int index);
    // Back to the empty window.
    void clearViewer();
    // The longest screen side in device pixels: the preview bound.
    int maxScreenPixelSize() const;
    // Cancels every preview decode but the shown file's (memory pressure).
    void cancelPrefetches();
    void resetAnimation();
    void toggleAnimationPause();
    void stepAnimationFrame(int step);
    // The frame an animated image view is showing now; read when pausing.
    void reportDisplayedAnimationFrame(int frame) { displayedAnimationFrame_ = frame; }

    // --- rotation (AppStateRotation.cpp) ---
    // Turns the shown image by clockwise quarter turns (-1: counter-clockwise): saved into
    // the file when it can hold the rotation, otherwise shown turned until another file is.
    void rotate(int quarterTurns);

    // --- slideshow and status bar (AppStateTimers.cpp) ---
    // Steps +1 every interval with wrap-around, in full screen; needs two files.
    void startSlideshow();
    void stopSlideshow();
    // Shows the status bar and (re)arms its hide 2 s from now.
    void revealStatusBar();

    // --- colour tags (AppStateTags.cpp) ---
    void toggleTag(FinderTag tag);
    void removeColorTags();

    // --- file operations on the current file (AppStateFiles.cpp) ---
    // Each does nothing without a current file; failures become `errorMessage`.
    void beginRename();
    void rename(const QString &name);
    // Trash when the volume has a usable one, else permanent deletion; asks first.
    void requestDelete();
    void performDelete();
    // The folder comes from the user's choice; it is remembered before the operation.
    void copyToFolder(const QUrl &folder);
    void moveToFolder(const QUrl &folder);
    // The same for the file a dialog was opened for, which need not be shown any more
    // (a slideshow step or a change in the folder while the dialog was open).
    void renameFile(const QUrl &file, const QString &name);
    void deleteFile(const QUrl &file, bool permanent);
    void copyFile(const QUrl &file, const QUrl &folder);
    void moveFile(const QUrl &file, const QUrl &folder);
    // The applications for the current file's type, by name, without Orva itself.
    QList<OpenWithApp> openWithApps() const;
    void openWith(const QUrl &application);
    void revealInFinder();
    // Full resolution, turned by the pending rotation, decoded in the background; the
    // file and rotation are those of the moment of the command.
    void copyImage();
    // Makes a private copy of the shown image, with the pending rotation, the desktop
    // picture; failures become `errorMessage`, success is silent.
    void setAsDesktopPicture();

    // --- folder listing (AppStateFolder.cpp) ---
    void rescanCurrentFolder();
    // The window became the active one: catch up with its folder, debounced like folder
    // events since focus moves in bursts (a menu closing, a dialog going away).
    void windowActivated();

    // --- settings and title (AppState.cpp) ---
    // Sets and persists the mode, then requests the zoom that goes with it.
    void applyDisplayMode(DisplayMode mode);
    // For a newly opened file: request the zoom of the display mode, if not pending.
    void resetZoomRequest();
    QString windowTitle() const;

    const AppServices &services() const { return services_; }
    Settings settings() const { return Settings(services_.settings); }

signals:
    void currentURLChanged();
    void currentImageChanged();
    void loadFailedChanged();
    void loadFailureChanged();
    void imageFilesChanged();
    void currentIndexChanged();
    void metadataChanged();
    void displayModeChanged();
    void overlayModeChanged();
    void showThumbnailBarChanged();
    void zoomActionChanged();
    void magnificationChanged();
    void visibleRectChanged();
    void scrollTargetChanged();
    void isNavigatorDraggingChanged();
    void isSlideshowRunningChanged();
    void currentTagsChanged();
    void animationFrameCountChanged();
    void isAnimationPausedChanged();
    void animationFrameChanged();
    void showRenamePromptChanged();
    void renameTextChanged();
    void showDeleteConfirmationChanged();
    void deleteIsPermanentChanged();
    void errorMessageChanged();
    void showStatusBarChanged();
    void hideStatusBarTaskChanged();
    void hideStatusBarDeadlineChanged();
    // A preview decode (of the shown file or a neighbour decoded ahead) has finished.
    void imageDecoded(const QUrl &url, const orva::DecodedImage &image);

private:
    void showFile(const QUrl &url);
    Task<DecodeOutcome> loadTask(const QUrl &url);
    void trackLoad(const QUrl &url, const Task<DecodeOutcome> &task,
                   const std::optional<FileIdentity> &identity);
    // Shows the file's quick preview, if it has one, until its own preview arrives.
    void showQuickPreview(const QUrl &url, int generation);
    void openFolder(const QUrl &folder);
    // Ends every decode and the folder watch: what was loading is not wanted any more.
    void dropLoads();
    // The folder's image files in the sort order, on a background task.
    Task<QList<QUrl>> listFolder(const QUrl &folder, const std::optional<QUrl> &including);
    void prefetchNeighbours();
    void scheduleFullResolutionCheck();
    void checkFullResolution();
    void renderCurrentImage();
    void reloadRewrittenFile(const QUrl &url);
    void scheduleSlideshowStep(double interval);
    void scheduleStatusBarHide();
    void writeTags(const QStringList &tags);
    void invalidateThumbnail(const QUrl &url);
    void dropFromList(const QUrl &file);
    void scanFolder(const QUrl &folder);
    void applyListing(const QList<QUrl> &files);
    void scheduleRescan();
    // Drops kept decodes whose file changed on disk since; true when the shown file's did.
    bool forgetChangedDecodes();

    template <class T, class U> bool assign(T &field, U &&value, void (AppState::*changed)())
    {
        if (field == value)
            return false;
        field = std::forward<U>(value);
        emit(this->*changed)();
        return true;
    }

    AppServices services_;

    std::optional<QUrl> currentURL_;
    std::optional<DecodedImage> currentImage_;
    bool loadFailed_ = false;
    std::optional<LoadFailure> loadFailure_;
    bool showingFolder_ = false; // currentURL is a folder being listed or without images
    QList<QUrl> imageFiles_;
    int currentIndex_ = 0;
    QList<MetadataEntry> metadata_;
    DisplayMode displayMode_ = DisplayMode::fitToWindow;
    OverlayMode overlayMode_ = OverlayMode::none;
    bool showThumbnailBar_ = false;
    QPointer<QWindow> window_;
    std::optional<ZoomAction> zoomAction_;
    double magnification_ = 1.0;
    QRectF visibleRect_{0, 0, 1, 1};
    std::optional<QPointF> scrollTarget_;
    bool isNavigatorDragging_ = false;
    bool isSlideshowRunning_ = false;
    ScheduledAction slideshowTask_;
    bool slideshowEnteredFullScreen_ = false;
    QStringList currentTags_;
    int animationFrameCount_ = 0;
    bool isAnimationPaused_ = false;
    int animationFrame_ = 0;
    bool showRenamePrompt_ = false;
    QString renameText_;
    bool showDeleteConfirmation_ = false;
    bool deleteIsPermanent_ = false;
    std::optional<QString> errorMessage_;
    bool showStatusBar_ = true;
    ScheduledAction hideStatusBarTask_;
    double hideStatusBarDeadline_ = -std::numeric_limits<double>::infinity();
    // A preview decode with the identity its file had when the decode started.
    struct LoadEntry {
        Task<DecodeOutcome> task;
        std::optional<FileIdentity> identity;
    };
    QHash<QUrl, LoadEntry> loadTasks_;
    Task<DecodedImage> fullResolutionTask_;
    ScheduledAction fullResolutionCheck_;
    ScheduledAction stepFollowUp_; // a frame after a step onto a decoded neighbour
    int loadGeneration_ = 0;
    int appliedGeneration_ = 0;
    std::optional<DecodedImage> sourceImage_;
    int rotationSteps_ = 0;
    int navigationDirection_ = +1;
    std::unique_ptr<DirectoryWatcher> directoryWatcher_;
    ScheduledAction rescanTask_;
    // Scans are numbered; only the newest one's listing is installed.
    int scanNumber_ = 0;
    Task<QList<QUrl>> scanTask_;
    int displayedAnimationFrame_ = 0;
    std::unique_ptr<PointerEvents::Monitor> mouseMonitor_;
};

// The process-wide list of applications per file type, filled on first use of a type and
// kept until the process ends. Main thread only.
class OpenWithCache {
public:
    static OpenWithCache &shared();
    const QList<OpenWithApp> *find(const QString &key) const;
    void insert(const QString &key, const QList<OpenWithApp> &apps) { apps_.insert(key, apps); }
    void clear() { apps_.clear(); }

private:
    QHash<QString, QList<OpenWithApp>> apps_;
};

// The image turned clockwise by quarter turns.
QImage rotatedQuarterTurns(const QImage &image, int steps);

// The key the cache files a file under: its MIME type by extension, else the extension.
QString fileTypeKey(const QUrl &file);

// Full screen on or off for a top-level window; other states (maximised) are kept.
void toggleFullScreen(QWindow *window);
bool isFullScreen(const QWindow *window);

} // namespace orva
