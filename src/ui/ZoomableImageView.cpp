#include "ui/ZoomableImageView.h"

#include "core/state/AppState.h"
#include "core/view/DisplayPixels.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QGestureEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace orva {

// Display-ready copies of a still bitmap: level 0 in an 8-bit sRGB format the raster
// engine draws directly, each further level half the size of the one before.
// `fit` is the image at exactly the device-pixel size the fitted view draws it, filtered
// once in the background, so that a fitted paint is a plain copy.
struct ZoomableImageView::Pyramid {
    const void *source = nullptr; // the DisplayImage it was built for
    std::vector<QImage> levels;
    QImage fit;
};

namespace {

constexpr double fadeSeconds = 0.25;
// The fade's first frame already shows a trace of the new image, so a step is visible in
// the frame after the key rather than one frame later.
constexpr double fadeFirstOpacity = 0.94;
constexpr int smallestLevelSide = 64;
// Scroll indicators stay this long after the last movement, then fade.
constexpr double indicatorHoldSeconds = 0.8;
constexpr int indicatorFadeMs = 300;
constexpr double indicatorThickness = 5, indicatorMargin = 3, indicatorMinLength = 24;
// The shown image and the neighbours decoded ahead of it.
constexpr size_t maxPreparedPyramids = 4;

bool isDrawableAsIs(const QImage &image)
{
    const bool format = image.format() == QImage::Format_RGB32 ||
                        image.format() == QImage::Format_ARGB32_Premultiplied;
    const QColorSpace cs = image.colorSpace();
    return format && (!cs.isValid() || cs == QColorSpace(QColorSpace::SRgb));
}

// Converts to 8-bit sRGB (mapping 16-bit and float data to the screen's range) and halves
// down to a small size. Runs on a utility thread.
std::vector<QImage> buildLevels(const QImage &bitmap, QSize fitPixels, double dpr, QImage *fit)
{
    std::vector<QImage> levels;
    levels.push_back(toDisplayPixels(bitmap));
    const QImage &base = levels.front();
    // A screen-sized preview gets one; a full-resolution image is shown zoomed in.
    if (fitPixels.isValid() && fitPixels.width() < base.width() &&
        fitPixels.height() < base.height() && base.width() <= 3 * fitPixels.width()) {
        *fit = base.scaled(fitPixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        fit->setDevicePixelRatio(dpr);
    }
    while (std::min(levels.back().width(), levels.back().height()) > 2 * smallestLevelSide &&
           CancellationToken::current().isCancelled() == false) {
        const QImage &prev = levels.back();
        levels.push_back(prev.scaled(prev.width() / 2, prev.height() / 2, Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation));
    }
    return levels;
}

} // namespace

ZoomableImageView::ZoomableImageView(AppState &state, QWidget *parent)
    : QAbstractScrollArea(parent), state_(state), scheduler_(state.services().scheduler),
      tasks_(state.services().tasks)
{
    setFrameShape(QFrame::NoFrame);
    // Classic bars would shrink the viewport (and with it the fit) whenever the image is
    // larger than the window; thin indicators are drawn over the image instead.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::OpenHandCursor);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent, false);
    viewport()->setAutoFillBackground(false);
    viewport()->grabGesture(Qt::PinchGesture);
    fade_.setDuration(int(fadeSeconds * 1000));
    fade_.setEasingCurve(QEasingCurve::InOutQuad);
    fade_.setStartValue(fadeFirstOpacity);
    fade_.setEndValue(0.0);
    connect(&fade_, &QVariantAnimation::valueChanged, viewport(), qOverload<>(&QWidget::update));
    connect(&fade_, &QVariantAnimation::finished, this, [this] {
        fading_ = false;
        fadeLayer_ = QImage(); // shares the snapshot buffer or an old level
        viewport()->update();
    });
    indicatorsFade_.setDuration(indicatorFadeMs);
    indicatorsFade_.setStartValue(1.0);
    indicatorsFade_.setEndValue(0.0);
    connect(&indicatorsFade_, &QVariantAnimation::valueChanged, viewport(),
            qOverload<>(&QWidget::update));

    connect(&state_, &AppState::currentImageChanged, this, &ZoomableImageView::applyImage);
    connect(&state_, &AppState::zoomActionChanged, this, &ZoomableImageView::applyZoomRequest);
    connect(&state_, &AppState::scrollTargetChanged, this, &ZoomableImageView::applyScrollTarget);
    connect(&state_, &AppState::isAnimationPausedChanged, this, &ZoomableImageView::applyAnimation);
    connect(&state_, &AppState::animationFrameChanged, this, &ZoomableImageView::applyAnimation);
    connect(&state_, &AppState::imageDecoded, this, &ZoomableImageView::prepareDecoded);
    applyImage();
    applyZoomRequest();
}

ZoomableImageView::~ZoomableImageView()
{
    pyramidTask_.cancel();
    for (Prepared &p : prepared_)
        p.task.cancel();
}

void ZoomableImageView::setFitMode(bool fitMode)
{
    if (fitMode == fitMode_)
        return;
    fitMode_ = fitMode;
    emit fitModeChanged(fitMode_);
}

void ZoomableImageView::revealScrollIndicators()
{
    indicatorsShown_ = true;
    indicatorsFade_.stop();
    viewport()->update();
    indicatorsHide_ = scheduler_.after(indicatorHoldSeconds, [this] {
        indicatorsShown_ = false;
        indicatorsFade_.start();
    });
}

QSizeF ZoomableImageView::viewportPoints() const { return QSizeF(viewport()->size()); }

QRectF ZoomableImageView::clipBounds() const { return QRectF(origin_, viewportPoints() / mag_); }

QPointF ZoomableImageView::documentPoint(QPointF viewportPos) const
{
    return origin_ + viewportPos / mag_;
}

void ZoomableImageView::updateMinMagnification()
{
    if (const auto fit = zoom::fitMagnification(doc_, viewportPoints()))
        minMag_ = *fit;
}

void ZoomableImageView::setOrigin(QPointF origin)
{
    // Centre a document smaller than the viewport; keep a larger one inside its bounds.
    const QSizeF clip = viewportPoints() / mag_;
    auto axis = [](double o, double doc, double clipSide) {
        if (doc <= clipSide)
            return (doc - clipSide) * 0.5;
        return std::clamp(o, 0.0, doc - clipSide);
    };
    origin_ = QPointF(axis(origin.x(), doc_.width(), clip.width()),
                      axis(origin.y(), doc_.height(), clip.height()));
    syncScrollBars();
    viewport()->update();
}

void ZoomableImageView::setMagnification(double mag, std::optional<QPointF> viewportAnchor)
{
    const QPointF anchor = viewportAnchor.value_or(
        QPointF(viewportPoints().width() / 2, viewportPoints().height() / 2));
    const QPointF docAnchor = documentPoint(anchor);
    mag_ = std::clamp(mag, std::min(minMag_, zoom::maxMagnification), zoom::maxMagnification);
    setOrigin(docAnchor - anchor / mag_);
}

void ZoomableImageView::syncScrollBars()
{
    syncingBars_ = true;
    const QSizeF vp = viewportPoints();
    const int rangeX = std::max(0, int(std::lround(doc_.width() * mag_ - vp.width())));
    const int rangeY = std::max(0, int(std::lround(doc_.height() * mag_ - vp.height())));
    horizontalScrollBar()->setRange(0, rangeX);
    verticalScrollBar()->setRange(0, rangeY);
    horizontalScrollBar()->setPageStep(int(vp.width()));
    verticalScrollBar()->setPageStep(int(vp.height()));
    horizontalScrollBar()->setValue(int(std::lround(std::max(0.0, origin_.x() * mag_))));
    verticalScrollBar()->setValue(int(std::lround(std::max(0.0, origin_.y() * mag_))));
    syncingBars_ = false;
}

void ZoomableImageView::scrollContentsBy(int, int)
{
    if (syncingBars_)
        return;
    // The user moved a scroll bar.
    const QPointF o(horizontalScrollBar()->value() / mag_, verticalScrollBar()->value() / mag_);
    setOrigin(QPointF(doc_.width() * mag_ > viewportPoints().width() ? o.x() : origin_.x(),
                      doc_.height() * mag_ > viewportPoints().height() ? o.y() : origin_.y()));
    reportState();
}

void ZoomableImageView::reportState()
{
    const QRectF clip = clipBounds();
    const QRectF bottomLeft(clip.x(), doc_.height() - clip.y() - clip.height(), clip.width(),
                            clip.height());
    const auto rect = zoom::visibleFraction(doc_, bottomLeft);
    if (!rect)
        return;
    state_.setMagnification(mag_);
    state_.setVisibleRect(*rect);
}

void ZoomableImageView::layoutFit()
{
    updateMinMagnification();
    if (fitMode_ && !autoSizing_)
        setMagnification(minMag_);
    else
        setOrigin(origin_);
}

void ZoomableImageView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    layoutFit();
    reportState();
}

void ZoomableImageView::applyImage()
{
    const std::optional<DecodedImage> &next = state_.currentImage();
    if (!next || !next->image)
        awaiting_ = nullptr;
    if (!next || !next->image) {
        if (shown_) {
            shown_.reset();
            startPyramid(); // drops the old levels and stops building them
            frameTimer_.cancel();
            doc_ = QSizeF();
            viewport()->update();
        }
        return;
    }
    if (shown_ && shown_->image == next->image) {
        awaiting_ = nullptr;
        return;
    }
    // A bitmap that must be converted for the screen would first be drawn from the small
    // preview, visibly blurred: what is on screen stays until its first level is ready.
    if (next->bitmap && !isDrawableAsIs(*next->bitmap)) {
        const PyramidTask task = preparedPyramid(*next, TaskPriority::userInitiated);
        const DisplayImage *key = next->image.get();
        if (!task.isFinished()) {
            if (awaiting_ != key) {
                awaiting_ = key;
                task.then(this, [this, key](const auto &) {
                    if (awaiting_ != key)
                        return;
                    awaiting_ = nullptr;
                    const auto &current = state_.currentImage();
                    if (current && current->image.get() == key)
                        applyImage();
                });
            }
            return;
        }
    }
    awaiting_ = nullptr;
    const bool hadImage = shown_.has_value();
    if (hadImage && isVisible() && !viewport()->size().isEmpty()) {
        // Cross-fade from what is on screen now: the fitted level as it is, else a snapshot.
        fadeLayer_ = QImage();
        // (Its filtering may differ slightly from what was drawn; in a fade that cannot show.)
        if (auto fit = fitDrawing(devicePixelRatioF(), true)) {
            fadeLayer_ = std::move(fit->first);
            fadeAt_ = fit->second;
        } else {
            // The buffer is kept between fades: touching fresh memory for every step costs
            // page faults worth tens of milliseconds while decoders keep the cores busy.
            prepareFadeBuffer();
            fadeFrom_.fill(Qt::transparent);
            {
                QPainter p(&fadeFrom_);
                drawStill(p, QRectF(QPointF(), viewportPoints()), true);
            }
            fadeLayer_ = fadeFrom_;
            fadeAt_ = QPointF();
        }
        fading_ = true;
        fade_.stop();
        fade_.start();
    }
    if (!hadImage) // ready before the first step, after the first paint
        QTimer::singleShot(100, this, &ZoomableImageView::prepareFadeBuffer);
    shown_ = next;
    doc_ = next->image->pointSize;
    if (!hadImage) {
        // Whatever origin an earlier image left means nothing for this one: start centred,
        // so that a zoom request applied before the refit below is about the middle.
        setOrigin(QPointF(doc_.width(), doc_.height()) * 0.5 -
                  QPointF(viewportPoints().width(), viewportPoints().height()) * (0.5 / mag_));
    }
    frame_ = 0;
    state_.reportDisplayedAnimationFrame(0);
    loopsLeft_ = next->image->loopCount;
    frameTimer_.cancel(); // the new image's first frame gets its own delay
    startPyramid();
    applyAnimation();
    if (state_.displayMode() == DisplayMode::autoSizeWindow) {
        autoSizing_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                resizeWindowToFit();
                QMetaObject::invokeMethod(
                    this, [this] { finishAutoSize(false); }, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
        return;
    }
    auto refit = [this] {
        updateMinMagnification();
        setMagnification(fitMode_ ? minMag_ : std::max(mag_, minMag_));
        reportState();
    };
    refit();
    // A first image may arrive before the window has its final size; a zoom request
    // applied in the meantime has already set mag_.
    if (!hadImage)
        QMetaObject::invokeMethod(this, refit, Qt::QueuedConnection);
}

std::optional<std::pair<QImage, QPointF>> ZoomableImageView::fitDrawing(double dpr,
                                                                        bool fading) const
{
    if ((!fitLevelUsable_ && !fading) || !pyramid_ || !shown_ ||
        pyramid_->source != shown_->image.get() || pyramid_->fit.isNull())
        return std::nullopt;
    const QImage &fit = pyramid_->fit;
    const QRectF target(-origin_ * mag_, doc_ * mag_);
    // Rounded as fittedPixelSize() rounds.
    if (std::lround(target.width() * dpr) != fit.width() ||
        std::lround(target.height() * dpr) != fit.height() || fit.devicePixelRatio() != dpr)
        return std::nullopt;
    // On whole device pixels, so that the raster engine copies rows.
    return std::pair{
        fit, QPointF(std::round(target.left() * dpr) / dpr, std::round(target.top() * dpr) / dpr)};
}

QSize ZoomableImageView::fittedPixelSize(QSizeF document) const
{
    const auto fit = zoom::fitMagnification(document, viewportPoints());
    if (!fit || state_.displayMode() == DisplayMode::autoSizeWindow)
        return {};
    const double k = *fit * devicePixelRatioF();
    return QSize(std::max(1, int(std::lround(document.width() * k))),
                 std::max(1, int(std::lround(document.height() * k))));
}

void ZoomableImageView::prepareFadeBuffer()
{
    const QSize pixels = viewport()->size() * devicePixelRatioF();
    if ((fadeFrom_.size() == pixels && fadeFrom_.devicePixelRatio() == devicePixelRatioF()) ||
        pixels.isEmpty())
        return;
    fadeFrom_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    fadeFrom_.setDevicePixelRatio(devicePixelRatioF());
    fadeFrom_.fill(Qt::transparent); // touches every page now, not during a step
}

ZoomableImageView::PyramidTask ZoomableImageView::preparedPyramid(const DecodedImage &image,
                                                                  TaskPriority priority)
{
    for (auto it = prepared_.begin(); it != prepared_.end(); ++it) {
        if (it->image != image.image)
            continue;
        if (!it->task.isCancelled())
            return it->task;
        prepared_.erase(it); // given up when it left the screen: build again
        break;
    }
    const QImage bitmap = *image.bitmap;
    const void *source = image.image.get();
    const double dpr = devicePixelRatioF();
    const QSize fitPixels = fittedPixelSize(image.image->pointSize);
    PyramidTask task =
        tasks_.run(priority, [bitmap, source, fitPixels, dpr](const CancellationToken &) {
            auto p = std::make_shared<Pyramid>();
            p->source = source;
            p->levels = buildLevels(bitmap, fitPixels, dpr, &p->fit);
            return std::shared_ptr<const Pyramid>(std::move(p));
        });
    // Levels of images the state has let go of (neither shown nor decoded ahead any more)
    // are not needed again; a full-resolution pyramid can be hundreds of megabytes.
    std::erase_if(prepared_, [this](Prepared &p) {
        const bool released = p.image.use_count() == 1 && !(p.task == pyramidTask_);
        if (released)
            p.task.cancel();
        return released;
    });
    prepared_.push_back({image.image, task});
    while (prepared_.size() > maxPreparedPyramids) {
        if (!(prepared_.front().task == pyramidTask_))
            prepared_.front().task.cancel();
        prepared_.erase(prepared_.begin());
    }
    return task;
}

void ZoomableImageView::prepareDecoded(const QUrl &url, const DecodedImage &image)
{
    // Neighbours decoded ahead get their first level ahead too, behind the decodes the user
    // waits for; the shown file's is what the user waits for. Bitmaps drawable as they are
    // get one too: a fitted paint from it is a copy instead of a filtered scale.
    if (!image.image || !image.bitmap || image.image->isAnimated())
        return;
    const bool current = state_.currentURL() == url;
    preparedPyramid(image, current ? TaskPriority::userInitiated : TaskPriority::utility);
}

void ZoomableImageView::startPyramid()
{
    // Stepping quickly through large photos must not queue a build per photo in front of
    // the decodes the user is waiting for.
    pyramidTask_.cancel();
    pyramidTask_ = {};
    pyramid_.reset();
    preparing_ = false;
    const int generation = ++pyramidGeneration_;
    if (!shown_ || !shown_->bitmap)
        return;
    preparing_ = true;
    pyramidTask_ = preparedPyramid(*shown_, TaskPriority::userInitiated);
    if (const auto ready = pyramidTask_.result()) {
        pyramid_ = *ready;
        preparing_ = false;
        fitLevelUsable_ = true;
        return;
    }
    // Drawn from the bitmap meanwhile: switching to the differently filtered fit level
    // later would change the picture once more after it appeared.
    fitLevelUsable_ = false;
    pyramidTask_.then(this,
                      [this, generation](const std::optional<std::shared_ptr<const Pyramid>> &p) {
                          if (generation != pyramidGeneration_ || !p)
                              return;
                          pyramid_ = *p;
                          preparing_ = false;
                          viewport()->update();
                      });
}

void ZoomableImageView::applyAnimation()
{
    if (!shown_ || !shown_->image->isAnimated()) {
        frameTimer_.cancel();
        return;
    }
    const int count = int(shown_->image->frames.size());
    if (state_.isAnimationPaused()) {
        frameTimer_.cancel();
        frame_ = std::clamp(state_.animationFrame(), 0, count - 1);
        // A stepped frame is the shown one: pausing again after a resume must stay on it.
        state_.reportDisplayedAnimationFrame(frame_);
        viewport()->update();
    } else if (!frameTimer_.isPending()) {
        scheduleNextFrame();
    }
}

void ZoomableImageView::scheduleNextFrame()
{
    const auto &frames = shown_->image->frames;
    const double delay = std::max(frames[size_t(frame_)].delayMs, 10) / 1000.0;
    frameTimer_ = scheduler_.after(delay, [this] {
        if (!shown_ || !shown_->image->isAnimated())
            return;
        const int count = int(shown_->image->frames.size());
        if (frame_ + 1 >= count) {
            if (loopsLeft_ == 0)
                return; // played its last loop: stay on the last frame
            if (loopsLeft_ > 0)
                --loopsLeft_;
            frame_ = 0;
        } else {
            ++frame_;
        }
        state_.reportDisplayedAnimationFrame(frame_);
        viewport()->update();
        scheduleNextFrame();
    });
}

void ZoomableImageView::applyZoomRequest()
{
    const std::optional<ZoomAction> action = state_.zoomAction();
    if (!action) {
        zoomActionApplied_ = false;
        return;
    }
    if (zoomActionApplied_)
        return;
    zoomActionApplied_ = true;
    if (*action == ZoomAction::fit && state_.displayMode() == DisplayMode::autoSizeWindow &&
        shown_) {
        autoSizing_ = true;
        resizeWindowToFit();
        QMetaObject::invokeMethod(
            this, [this] { finishAutoSize(true); }, Qt::QueuedConnection);
        return;
    }
    updateMinMagnification();
    const zoom::ZoomRequest request = *action == ZoomAction::fit ? zoom::ZoomRequest::fit
                                      : *action == ZoomAction::actualSize
                                          ? zoom::ZoomRequest::actualSize
                                      : *action == ZoomAction::zoomIn ? zoom::ZoomRequest::zoomIn
                                                                      : zoom::ZoomRequest::zoomOut;
    const auto result = zoom::applyZoomRequest(request, mag_, minMag_);
    setFitMode(result.fitMode);
    setMagnification(result.magnification);
    if (request != zoom::ZoomRequest::fit)
        revealScrollIndicators();
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (state_.zoomAction())
                state_.setZoomAction(std::nullopt);
            reportState();
        },
        Qt::QueuedConnection);
}

void ZoomableImageView::applyScrollTarget()
{
    const std::optional<QPointF> target = state_.scrollTarget();
    if (!target || doc_.isEmpty())
        return;
    const QSizeF clip = viewportPoints() / mag_;
    const QPointF bl = zoom::scrollOriginForTarget(*target, doc_, clip);
    setOrigin(QPointF(bl.x(), doc_.height() - bl.y() - clip.height()));
    revealScrollIndicators();
    QMetaObject::invokeMethod(
        this,
        [this] {
            state_.setScrollTarget(std::nullopt);
            reportState();
        },
        Qt::QueuedConnection);
}

void ZoomableImageView::finishAutoSize(bool consumeZoomAction)
{
    autoSizing_ = false;
    updateMinMagnification();
    setFitMode(true);
    setMagnification(minMag_);
    if (consumeZoomAction && state_.zoomAction())
        state_.setZoomAction(std::nullopt);
    reportState();
}

std::optional<QRectF> ZoomableImageView::autoSizeFrame() const
{
    const QWidget *win = window();
    const QScreen *screen = win ? win->screen() : nullptr;
    if (!screen || doc_.isEmpty())
        return std::nullopt;
    const QSizeF frame = win->frameGeometry().size();
    const QSizeF chrome = frame - viewportPoints();
    // The window's minimum keeps its menus usable; a smaller image is centred inside it.
    const QSizeF decoration = frame - QSizeF(win->size());
    const QSizeF minimum = QSizeF(win->minimumSize()) + decoration;
    return zoom::windowFrameToFit(doc_, screen->availableGeometry(), chrome, minimum);
}

void ZoomableImageView::resizeWindowToFit()
{
    QWidget *win = window();
    const auto frame = autoSizeFrame();
    if (!win || !frame || win->isFullScreen())
        return;
    // Frame geometry includes the decoration; geometry is the client area.
    const QMargins decoration(win->geometry().left() - win->frameGeometry().left(),
                              win->geometry().top() - win->frameGeometry().top(),
                              win->frameGeometry().right() - win->geometry().right(),
                              win->frameGeometry().bottom() - win->geometry().bottom());
    emit windowResizeRequested();
    win->setGeometry(frame->toRect().marginsRemoved(decoration));
}

void ZoomableImageView::wheelEvent(QWheelEvent *event)
{
    // Trackpads begin and end a gesture with events that carry no distance; they still
    // belong to the gesture, or the swipe recognizer would never start a new one.
    const bool precise = !event->pixelDelta().isNull() || event->phase() == Qt::ScrollBegin ||
                         event->phase() == Qt::ScrollEnd;
    zoom::SwipeRecognizer::Event e;
    e.precise = precise;
    e.dx = precise ? event->pixelDelta().x() : event->angleDelta().x() / 120.0;
    e.dy = precise ? event->pixelDelta().y() : event->angleDelta().y() / 120.0;
    e.inverted = event->inverted();
    e.time = scheduler_.now();
    switch (event->phase()) {
    case Qt::ScrollBegin:
        e.phase = zoom::SwipeRecognizer::Phase::began;
        break;
    case Qt::ScrollUpdate:
        e.phase = zoom::SwipeRecognizer::Phase::changed;
        break;
    case Qt::ScrollEnd:
        e.phase = zoom::SwipeRecognizer::Phase::ended;
        break;
    case Qt::ScrollMomentum:
        e.momentum = true;
        break;
    default:
        break;
    }
    event->accept();
    const auto outcome = swipe_.handle(e, fitMode_);
    if (outcome.navigateForward)
        state_.navigate(*outcome.navigateForward ? +1 : -1);
    if (outcome.consumed)
        return;
    updateMinMagnification();
    const auto z = zoom::wheelZoom(mag_, e.dy, precise, minMag_);
    if (!z)
        return;
    setFitMode(z->fitMode);
    setMagnification(z->magnification, event->position());
    revealScrollIndicators();
    reportState();
}

// Keys belong to the window (arrows step through the folder); the view never scrolls by
// keyboard.
void ZoomableImageView::keyPressEvent(QKeyEvent *event) { event->ignore(); }

void ZoomableImageView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        press_.press(event->position());
    event->accept();
}

void ZoomableImageView::mouseMoveEvent(QMouseEvent *event)
{
    const bool wasDragging = press_.hasDragged();
    if (const auto delta = press_.move(event->position())) {
        if (!wasDragging)
            viewport()->setCursor(Qt::ClosedHandCursor);
        setOrigin(origin_ - *delta / mag_);
        revealScrollIndicators();
        reportState();
    }
    event->accept();
}

void ZoomableImageView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::MiddleButton) {
        state_.applyDisplayMode(state_.displayMode());
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    const auto release = press_.release();
    if (!release)
        return;
    if (!release->wasClick) {
        viewport()->setCursor(Qt::OpenHandCursor);
        return;
    }
    const QRectF clip = clipBounds();
    const double x = documentPoint(event->position()).x();
    state_.navigate(zoom::clickGoesForward(x, clip.center().x()) ? +1 : -1);
}

bool ZoomableImageView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::NativeGesture) {
        auto *g = static_cast<QNativeGestureEvent *>(event);
        if (g->gestureType() == Qt::BeginNativeGesture) {
            setFitMode(false); // a pinch leaves fit mode
        } else if (g->gestureType() == Qt::ZoomNativeGesture) {
            updateMinMagnification();
            setFitMode(false);
            setMagnification(mag_ * (1.0 + g->value()), g->position());
            revealScrollIndicators();
            reportState();
        }
        return true;
    }
    if (event->type() == QEvent::Gesture) {
        // Touchscreens pinch through Qt's gesture framework instead (factor since the last
        // event, centre in global coordinates).
        auto *g = static_cast<QGestureEvent *>(event);
        auto *pinch = static_cast<QPinchGesture *>(g->gesture(Qt::PinchGesture));
        if (!pinch)
            return QAbstractScrollArea::viewportEvent(event);
        g->accept(pinch);
        if (pinch->state() == Qt::GestureStarted)
            setFitMode(false);
        if ((pinch->changeFlags() & QPinchGesture::ScaleFactorChanged) &&
            pinch->scaleFactor() > 0) {
            updateMinMagnification();
            setFitMode(false);
            setMagnification(mag_ * pinch->scaleFactor(),
                             viewport()->mapFromGlobal(pinch->centerPoint()));
            revealScrollIndicators();
            reportState();
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void ZoomableImageView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    drawStill(painter, event->rect());
    if (fading_) {
        painter.setOpacity(fade_.currentValue().toDouble());
        painter.drawImage(fadeAt_, fadeLayer_);
    }
    paintScrollIndicators(painter);
}

void ZoomableImageView::paintScrollIndicators(QPainter &painter)
{
    const double opacity = indicatorsShown_ ? 1.0
                           : indicatorsFade_.state() == QAbstractAnimation::Running
                               ? indicatorsFade_.currentValue().toDouble()
                               : 0.0;
    if (opacity <= 0 || doc_.isEmpty())
        return;
    const QSizeF vp = viewportPoints();
    const QSizeF content = doc_ * mag_;
    // A light knob with a dark rim reads on every background.
    painter.setOpacity(opacity);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 0, 0, 90), 1));
    painter.setBrush(QColor(255, 255, 255, 150));
    const double r = indicatorThickness / 2;
    auto knob = [&](double viewSide, double contentSide, double offset, double track) {
        const double length =
            std::max(indicatorMinLength, track * std::min(1.0, viewSide / contentSide));
        const double travel = std::max(1.0, contentSide - viewSide);
        return std::pair{(track - length) * std::clamp(offset / travel, 0.0, 1.0), length};
    };
    const bool both = content.width() > vp.width() + 0.5 && content.height() > vp.height() + 0.5;
    const double corner = both ? indicatorThickness + indicatorMargin : 0;
    if (content.width() > vp.width() + 0.5) {
        const double track = vp.width() - 2 * indicatorMargin - corner;
        const auto [at, length] = knob(vp.width(), content.width(), origin_.x() * mag_, track);
        painter.drawRoundedRect(QRectF(indicatorMargin + at,
                                       vp.height() - indicatorMargin - indicatorThickness, length,
                                       indicatorThickness),
                                r, r);
    }
    if (content.height() > vp.height() + 0.5) {
        const double track = vp.height() - 2 * indicatorMargin - corner;
        const auto [at, length] = knob(vp.height(), content.height(), origin_.y() * mag_, track);
        painter.drawRoundedRect(QRectF(vp.width() - indicatorMargin - indicatorThickness,
                                       indicatorMargin + at, indicatorThickness, length),
                                r, r);
    }
}

void ZoomableImageView::drawStill(QPainter &painter, const QRectF &exposed, bool quick)
{
    if (!shown_ || doc_.isEmpty())
        return;
    const QRectF target(-origin_ * mag_, doc_ * mag_); // the whole document, viewport coords
    const QRectF visible = target.intersected(exposed);
    if (visible.isEmpty())
        return;
    const double dpr = painter.device()->devicePixelRatioF();
    if (shown_->image->isAnimated()) {
        const QImage &f =
            shown_->image
                ->frames[size_t(std::clamp(frame_, 0, int(shown_->image->frames.size()) - 1))]
                .image;
        painter.setRenderHint(QPainter::SmoothPixmapTransform, mag_ * dpr < 2.0);
        painter.drawImage(target, f);
        return;
    }
    QImage level;
    if (pyramid_ && pyramid_->source == shown_->image.get()) {
        if (const auto fit = fitDrawing(dpr)) {
            painter.drawImage(fit->second, fit->first);
            return;
        }
        // Pick the level that needs at most a 2x reduction when drawn.
        const double base = pyramid_->levels.front().width() / doc_.width(); // px per point
        const double wanted = mag_ * dpr;
        size_t k = 0;
        while (k + 1 < pyramid_->levels.size() && base / double(1u << (k + 1)) >= wanted)
            ++k;
        level = pyramid_->levels[k];
    } else if (!quick && shown_->bitmap && isDrawableAsIs(*shown_->bitmap)) {
        // (A fade's snapshot of an image leaving the screen takes the small preview: filtering
        // the whole bitmap would stall each quick step.)
        level = *shown_->bitmap;
    } else if (!shown_->preview->frames.empty()) {
        level = shown_->preview->frames.front().image; // until the pyramid is ready
    }
    if (level.isNull())
        return;
    const double sx = level.width() / target.width();
    const double sy = level.height() / target.height();
    // Pixels show as squares only zoomed far into the image itself; a low-resolution tier
    // (a thumbnail standing in for the photo) is always smoothed.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, mag_ * dpr < 3.0);
    // Tiles of at most 64 MiB, drawn straight from the image's memory.
    const qint64 bpl = level.bytesPerLine();
    const int tiles = zoom::tileCount(level.height(), bpl);
    const double firstRow = (visible.top() - target.top()) * sy;
    const double lastRow = (visible.bottom() - target.top()) * sy;
    for (int i = 0; i < tiles; ++i) {
        const auto rows = zoom::tileRows(i, level.height(), bpl);
        if (rows.first + rows.count < firstRow || rows.first > lastRow)
            continue;
        const QImage tile(level.constBits() + rows.first * bpl, level.width(), int(rows.count), bpl,
                          level.format());
        const QRectF tileTarget(target.left(), target.top() + rows.first / sy, target.width(),
                                rows.count / sy);
        const QRectF part = tileTarget.intersected(visible);
        const QRectF source((part.left() - tileTarget.left()) * sx,
                            (part.top() - tileTarget.top()) * sy, part.width() * sx,
                            part.height() * sy);
        painter.drawImage(part, tile, source);
    }
}

} // namespace orva
