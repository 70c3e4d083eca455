#include "ui/ImageViewer.h"

#include "core/settings/Settings.h"
#include "core/state/AppState.h"
#include "core/view/Navigator.h"
#include "core/view/ThumbnailStrip.h"
#include "core/view/ViewerContent.h"
#include "ui/FileActionDialogs.h"
#include "ui/HistogramView.h"
#include "ui/MessageView.h"
#include "ui/MetadataPanel.h"
#include "ui/NavigatorOverlay.h"
#include "ui/StatusPill.h"
#include "ui/ThumbnailBar.h"
#include "ui/ViewerBackground.h"
#include "ui/ViewerCommands.h"
#include "ui/ZoomableImageView.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>

namespace orva {

ImageViewer::ImageViewer(AppState &state, ViewerCommands &commands, QWidget *parent)
    : QWidget(parent), state_(state), commands_(commands),
      imageView_(new ZoomableImageView(state, this)),
      empty_(new MessageView(MessageView::Symbol::photo, this)),
      failure_(new MessageView(MessageView::Symbol::warning, this)),
      metadata_(new MetadataPanel(this)),
      histogram_(new HistogramView(state.services().images, state.services().tasks, this)),
      navigator_(new NavigatorOverlay(this)), status_(new StatusPill(this)),
      strip_(new ThumbnailBar(state, state.services().thumbnails, this)),
      blurred_(new viewer::BlurredBackground(state.services().thumbnails, state.services().tasks,
                                             state.services().scheduler, this))
{
    connect(blurred_, &viewer::BlurredBackground::changed, this, qOverload<>(&QWidget::update));
    for (auto signal : {&AppState::showThumbnailBarChanged, &AppState::isSlideshowRunningChanged,
                        &AppState::currentURLChanged, &AppState::imageFilesChanged})
        connect(&state_, signal, this, &ImageViewer::updateStrip);
    connect(&state_, &AppState::currentURLChanged, this, &ImageViewer::updateBlurredSource);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    // Keys belong to the content, not to the scroll view inside it.
    imageView_->setFocusPolicy(Qt::NoFocus);
    empty_->setLines(labelText("Open an image to start"), 0.5,
                     labelText("Drop a file or use File > Open"), 0.3);
    updateFailureNotice();

    for (auto signal : {&AppState::currentURLChanged, &AppState::loadFailedChanged,
                        &AppState::overlayModeChanged})
        connect(&state_, signal, this, &ImageViewer::updateLayers);
    connect(&state_, &AppState::metadataChanged, this, [this] {
        metadata_->setEntries(state_.metadata());
        layoutOverlays();
    });
    for (auto signal : {&AppState::currentTagsChanged, &AppState::animationFrameCountChanged,
                        &AppState::isAnimationPausedChanged, &AppState::animationFrameChanged,
                        &AppState::imageFilesChanged, &AppState::currentIndexChanged,
                        &AppState::magnificationChanged, &AppState::loadFailedChanged,
                        &AppState::currentImageChanged})
        connect(&state_, signal, this, &ImageViewer::updateStatusBar);
    // Every zoom change shows the new percentage for a moment.
    connect(&state_, &AppState::magnificationChanged, this, [this] {
        if (state_.currentImage())
            state_.revealStatusBar();
    });
    connect(&state_, &AppState::loadFailureChanged, this, &ImageViewer::updateFailureNotice);
    connect(&state_, &AppState::showStatusBarChanged, this,
            [this] { status_->setShown(state_.showStatusBar()); });
    connect(&state_, &AppState::currentURLChanged, this, &ImageViewer::currentFileChanged);

    // The navigator reads the visible part and writes scroll requests; the image view
    // carries them out.
    connect(navigator_, &NavigatorOverlay::navigateRequested, this,
            [this](QPointF target) { state_.setScrollTarget(target); });
    connect(navigator_, &NavigatorOverlay::dragStateChanged, this,
            [this](bool dragging) { state_.setNavigatorDragging(dragging); });
    for (auto signal : {&AppState::currentURLChanged, &AppState::currentImageChanged,
                        &AppState::loadFailedChanged, &AppState::visibleRectChanged,
                        &AppState::isNavigatorDraggingChanged, &AppState::showThumbnailBarChanged,
                        &AppState::imageFilesChanged})
        connect(&state_, signal, this, &ImageViewer::updateNavigator);
    connect(&state_, &AppState::errorMessageChanged, this, &ImageViewer::showError);
    connect(&state_, &AppState::showRenamePromptChanged, this, [this] {
        if (state_.showRenamePrompt())
            openRenamePrompt(this, state_);
    });
    connect(&state_, &AppState::showDeleteConfirmationChanged, this, [this] {
        if (state_.showDeleteConfirmation())
            openDeleteConfirmation(this, state_);
    });

    SettingsStore &settings = state_.services().settings;
    connect(&settings, &SettingsStore::valueChanged, this, [this](const QString &key) {
        if (key == QLatin1String(SettingsKey::sortOrder) ||
            key == QLatin1String(SettingsKey::sortDescending))
            state_.rescanCurrentFolder();
        else if (key == QLatin1String(SettingsKey::backgroundStyle)) {
            updateMessageColor();
            updateBlurredSource();
            update();
        }
    });
    // Coming back to the window picks up what changed in its folder meanwhile.
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *focused) {
        if (focused == state_.window())
            state_.windowActivated();
    });

    // Scroll bars coming and going resize the viewport without resizing the window.
    imageView_->viewport()->installEventFilter(this);

    metadata_->setEntries(state_.metadata());
    status_->setShown(state_.showStatusBar());
    updateMessageColor();
    updateStatusBar();
    updateLayers();
    updateStrip();
    updateBlurredSource();
}

void ImageViewer::updateStrip()
{
    strip_->setVisible(strip::isShownFor(state_));
    strip_->raise();
}

void ImageViewer::updateBlurredSource()
{
    blurred_->setSource(state_.currentURL(),
                        state_.settings().backgroundStyle() == BackgroundStyle::blurred);
}

void ImageViewer::updateLayers()
{
    const bool hasFile = state_.currentURL().has_value();
    empty_->setVisible(!hasFile);
    imageView_->setVisible(hasFile);
    failure_->setVisible(hasFile && state_.loadFailed());
    metadata_->setVisible(hasFile && state_.overlayMode() == OverlayMode::metadata);
    const bool histogram = hasFile && state_.overlayMode() == OverlayMode::histogram;
    histogram_->setUrl(histogram ? state_.currentURL() : std::nullopt);
    histogram_->setVisible(histogram);
    status_->setVisible(hasFile);
    // Stacking order: image, navigator, failure notice, overlay, status bar.
    navigator_->raise();
    failure_->raise();
    metadata_->raise();
    histogram_->raise();
    status_->raise();
    strip_->raise();
    layoutOverlays();
}

void ImageViewer::updateFailureNotice()
{
    const std::optional<LoadFailure> &failure = state_.loadFailure();
    failure_->setLines(labelText("This image cannot be displayed"), 0.6,
                       failure ? viewer::failureCaption(*failure) : QString(), 0.45);
}

void ImageViewer::updateStatusBar()
{
    // Runs on every magnification change while zooming: only the pill moves.
    status_->setContent(viewer::statusBarContent(state_));
    placeStatusBar();
}

void ImageViewer::placeStatusBar()
{
    status_->resize(status_->sizeHint());
    status_->move(width() - status_->width() - StatusPill::inset, StatusPill::inset);
}

void ImageViewer::updateMessageColor()
{
    const QColor c =
        viewer::messageTextIsDark(state_.settings().backgroundStyle()) ? Qt::black : Qt::white;
    empty_->setColor(c);
    failure_->setColor(c);
}

void ImageViewer::layoutOverlays()
{
    const QRect all = rect();
    imageView_->setGeometry(all);
    empty_->setGeometry(all);
    failure_->setGeometry(all);
    const int inset = MetadataPanel::inset;
    metadata_->adjustSize();
    metadata_->move(inset, inset);
    histogram_->resize(histogram_->sizeHint());
    histogram_->move(HistogramView::inset, HistogramView::inset);
    strip_->setGeometry(0, height() - int(strip::height), width(), int(strip::height));
    updateNavigator();
    placeStatusBar();
}

void ImageViewer::updateNavigator()
{
    const std::optional<DecodedImage> &image = state_.currentImage();
    navigator_->setImage(image ? image->preview : nullptr);
    navigator_->setVisibleRect(state_.visibleRect());
    const QSizeF map = navigator_->mapSize();
    const QWidget *viewport = imageView_->viewport();
    const QRectF area(viewport->mapTo(this, QPoint(0, 0)), QSizeF(viewport->size()));
    navigator_->setMapRect(navigator::placement(area, map, navigator::bottomInsetFor(state_)));
    navigator_->setVisible(navigator::isShownFor(state_) && !map.isEmpty());
}

void ImageViewer::currentFileChanged()
{
    // Every new file takes focus and shows the status bar for a moment.
    setFocus();
    if (state_.currentURL())
        state_.revealStatusBar();
}

void ImageViewer::showError()
{
    const std::optional<QString> &message = state_.errorMessage();
    if (!message) {
        if (errorAlert_)
            errorAlert_->close();
        return;
    }
    if (!errorAlert_) {
        errorAlert_ = new QMessageBox(QMessageBox::Warning, labelText("Error"), QString(),
                                      QMessageBox::Ok, this);
        errorAlert_->setAttribute(Qt::WA_DeleteOnClose);
        errorAlert_->setTextFormat(Qt::PlainText); // messages quote file names
        // Dismissing the alert clears the message.
        connect(errorAlert_, &QMessageBox::finished, this, [this] {
            errorAlert_ = nullptr; // it deletes itself; a new error gets a new alert
            state_.setErrorMessage(std::nullopt);
        });
    }
    errorAlert_->setText(*message);
    errorAlert_->open();
}

bool ImageViewer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == imageView_->viewport() && event->type() == QEvent::Resize)
        updateNavigator();
    return QWidget::eventFilter(watched, event);
}

void ImageViewer::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutOverlays();
}

void ImageViewer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const BackgroundStyle style = state_.settings().backgroundStyle();
    if (style == BackgroundStyle::blurred)
        blurred_->paint(painter, rect());
    else
        viewer::paintBackground(painter, rect(), style);
}

void ImageViewer::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    setFocus();
}

bool ImageViewer::focusNextPrevChild(bool) { return false; } // Tab cycles the overlay

void ImageViewer::keyPressEvent(QKeyEvent *event)
{
    const bool repeat = event->isAutoRepeat();
    QWidget *win = window();
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Space:
    case Qt::Key_PageDown:
    case Qt::Key_Left:
    case Qt::Key_PageUp:
        // A held key steps as fast as photos arrive, so that each one is seen; repeats
        // that come while the current photo is still decoding are dropped.
        if (!repeat || state_.isCurrentFileLoaded())
            state_.navigate(event->key() == Qt::Key_Left || event->key() == Qt::Key_PageUp ? -1
                                                                                           : +1);
        return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        // Held down it asks once: the confirmation is window-modal.
        if (event->modifiers() & ~Qt::KeypadModifier)
            break;
        state_.requestDelete();
        return;
    case Qt::Key_Home:
    case Qt::Key_End:
        if (!repeat)
            state_.goToIndex(event->key() == Qt::Key_Home ? 0
                                                          : int(state_.imageFiles().size()) - 1);
        return;
    case Qt::Key_Plus:
    case Qt::Key_Minus: {
        if (event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier))
            break;
        const ZoomAction action =
            event->key() == Qt::Key_Plus ? ZoomAction::zoomIn : ZoomAction::zoomOut;
        if (state_.currentURL() && state_.zoomAction() != action)
            state_.setZoomAction(action);
        return;
    }
    case Qt::Key_Tab:
        if (!repeat)
            state_.setOverlayMode(viewer::nextOverlayMode(state_.overlayMode()));
        return;
    case Qt::Key_Escape:
        // Held down it must not close one window after another.
        if (repeat)
            return;
        switch (viewer::escapeStep(state_, orva::isFullScreen(win->windowHandle()))) {
        case viewer::EscapeStep::stopSlideshow:
            state_.stopSlideshow();
            break;
        case viewer::EscapeStep::closeOverlay:
            state_.setOverlayMode(OverlayMode::none);
            break;
        case viewer::EscapeStep::leaveFullScreen:
            toggleFullScreen(win->windowHandle());
            break;
        case viewer::EscapeStep::closeWindow:
            win->close();
            break;
        }
        return;
    case Qt::Key_F:
        if (event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier))
            break;
        if (!repeat)
            toggleFullScreen(win->windowHandle());
        return;
    case Qt::Key_K:
        if (event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier))
            break;
        if (!repeat)
            state_.toggleAnimationPause();
        return;
    case Qt::Key_Comma:
        state_.stepAnimationFrame(-1);
        return;
    case Qt::Key_Period:
        state_.stepAnimationFrame(+1);
        return;
    default:
        break;
    }
    if (!(event->modifiers() & ~Qt::KeypadModifier) &&
        viewer::handleDigitKey(state_, event->text()))
        return;
    if (event->text() == QStringLiteral("\x7f")) { // the delete character, from any key
        state_.requestDelete();
        return;
    }
    event->ignore();
}

void ImageViewer::contextMenuEvent(QContextMenuEvent *event)
{
    if (!state_.currentURL())
        return; // the empty window's menu is empty
    // Not exec(): a nested loop could outlive this window (closed by routing meanwhile).
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    commands_.populateContextMenu(menu);
    menu->popup(event->globalPos());
}

void ImageViewer::dragEnterEvent(QDragEnterEvent *event)
{
    dragAcceptable_ =
        event->mimeData()->hasUrls() &&
        viewer::firstOpenableDrop(event->mimeData()->urls(), state_.services().images);
    if (dragAcceptable_)
        event->acceptProposedAction();
}

void ImageViewer::dragMoveEvent(QDragMoveEvent *event)
{
    if (dragAcceptable_)
        event->acceptProposedAction();
    else
        event->ignore();
}

void ImageViewer::dropEvent(QDropEvent *event)
{
    const std::optional<QUrl> url =
        event->mimeData()->hasUrls()
            ? viewer::firstOpenableDrop(event->mimeData()->urls(), state_.services().images)
            : std::nullopt;
    if (!url) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    state_.open(*url);
}

} // namespace orva
