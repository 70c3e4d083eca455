#include "core/state/AppState.h"

#if defined(QT_WIDGETS_LIB)
#error "The logic library must not depend on QtWidgets"
#endif

namespace orva {

AppState::AppState(const AppServices &services, QObject *parent)
    : QObject(parent), services_(services)
{
    const Settings s = settings();
    // Through the setters, which write the value back; a stored string that names no case
    // leaves the default and the stored string untouched.
    if (const auto mode = s.storedDisplayMode())
        setDisplayMode(*mode);
    if (const auto mode = s.storedOverlayMode())
        setOverlayMode(*mode);
    setShowThumbnailBar(s.showThumbnailBar());
    // Movement over this state's window (both absent counts as the same) shows its bar.
    mouseMonitor_ = services_.pointer.addMouseMovedMonitor([this](QWindow *window) {
        if (window == window_.data())
            revealStatusBar();
    });
}

AppState::~AppState() = default;

void AppState::setCurrentURL(const std::optional<QUrl> &url)
{
    assign(currentURL_, url, &AppState::currentURLChanged);
}

void AppState::setCurrentImage(const std::optional<DecodedImage> &image)
{
    assign(currentImage_, image, &AppState::currentImageChanged);
}

void AppState::setLoadFailed(bool failed)
{
    assign(loadFailed_, failed, &AppState::loadFailedChanged);
}

void AppState::setLoadFailure(const std::optional<LoadFailure> &failure)
{
    assign(loadFailure_, failure, &AppState::loadFailureChanged);
}

void AppState::setImageFiles(const QList<QUrl> &files)
{
    assign(imageFiles_, files, &AppState::imageFilesChanged);
}

void AppState::setCurrentIndex(int index)
{
    assign(currentIndex_, index, &AppState::currentIndexChanged);
}

void AppState::setMetadata(const QList<MetadataEntry> &rows)
{
    assign(metadata_, rows, &AppState::metadataChanged);
}

void AppState::setDisplayMode(DisplayMode mode)
{
    settings().setDisplayMode(mode);
    assign(displayMode_, mode, &AppState::displayModeChanged);
}

void AppState::setOverlayMode(OverlayMode mode)
{
    settings().setOverlayMode(mode);
    assign(overlayMode_, mode, &AppState::overlayModeChanged);
}

void AppState::setShowThumbnailBar(bool show)
{
    settings().setShowThumbnailBar(show);
    assign(showThumbnailBar_, show, &AppState::showThumbnailBarChanged);
}

void AppState::setZoomAction(const std::optional<ZoomAction> &action)
{
    assign(zoomAction_, action, &AppState::zoomActionChanged);
}

void AppState::setMagnification(double magnification)
{
    assign(magnification_, magnification, &AppState::magnificationChanged);
    scheduleFullResolutionCheck();
}

void AppState::setVisibleRect(const QRectF &rect)
{
    assign(visibleRect_, rect, &AppState::visibleRectChanged);
}

void AppState::setScrollTarget(const std::optional<QPointF> &target)
{
    assign(scrollTarget_, target, &AppState::scrollTargetChanged);
}

void AppState::setNavigatorDragging(bool dragging)
{
    assign(isNavigatorDragging_, dragging, &AppState::isNavigatorDraggingChanged);
}

void AppState::setSlideshowRunning(bool running)
{
    assign(isSlideshowRunning_, running, &AppState::isSlideshowRunningChanged);
}

void AppState::setCurrentTags(const QStringList &tags)
{
    assign(currentTags_, tags, &AppState::currentTagsChanged);
}

void AppState::setAnimationFrameCount(int count)
{
    assign(animationFrameCount_, count, &AppState::animationFrameCountChanged);
}

void AppState::setAnimationPaused(bool paused)
{
    assign(isAnimationPaused_, paused, &AppState::isAnimationPausedChanged);
}

void AppState::setAnimationFrame(int frame)
{
    assign(animationFrame_, frame, &AppState::animationFrameChanged);
}

void AppState::setShowRenamePrompt(bool show)
{
    assign(showRenamePrompt_, show, &AppState::showRenamePromptChanged);
}

void AppState::setRenameText(const QString &text)
{
    assign(renameText_, text, &AppState::renameTextChanged);
}

void AppState::setShowDeleteConfirmation(bool show)
{
    assign(showDeleteConfirmation_, show, &AppState::showDeleteConfirmationChanged);
}

void AppState::setDeleteIsPermanent(bool permanent)
{
    assign(deleteIsPermanent_, permanent, &AppState::deleteIsPermanentChanged);
}

void AppState::setErrorMessage(const std::optional<QString> &message)
{
    assign(errorMessage_, message, &AppState::errorMessageChanged);
}

void AppState::setShowStatusBar(bool show)
{
    assign(showStatusBar_, show, &AppState::showStatusBarChanged);
}

void AppState::setHideStatusBarTask(ScheduledAction task)
{
    // A new handle replaces (and so cancels) the old one.
    if (task == hideStatusBarTask_)
        return;
    hideStatusBarTask_ = std::move(task);
    emit hideStatusBarTaskChanged();
}

void AppState::setHideStatusBarDeadline(double deadline)
{
    assign(hideStatusBarDeadline_, deadline, &AppState::hideStatusBarDeadlineChanged);
}

void AppState::applyDisplayMode(DisplayMode mode)
{
    setDisplayMode(mode);
    setZoomAction(mode == DisplayMode::actualSize ? ZoomAction::actualSize : ZoomAction::fit);
}

void AppState::resetZoomRequest()
{
    switch (displayMode_) {
    case DisplayMode::fitToWindow:
        setZoomAction(ZoomAction::fit);
        break;
    case DisplayMode::actualSize:
        setZoomAction(ZoomAction::actualSize);
        break;
    case DisplayMode::autoSizeWindow:
        break; // the window sizes itself to the new image
    }
}

QString AppState::windowTitle() const
{
    if (!currentURL_)
        return QStringLiteral("Orva");
    QString title = currentURL_->fileName();
    if (imageFiles_.size() >= 2)
        title += QStringLiteral(" [%1/%2]").arg(currentIndex_ + 1).arg(imageFiles_.size());
    return title;
}

} // namespace orva
