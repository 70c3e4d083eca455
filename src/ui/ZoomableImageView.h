#pragma once

#include "core/model/DecodedImage.h"
#include "core/runtime/Scheduler.h"
#include "core/runtime/TaskRuntime.h"
#include "core/view/ZoomModel.h"

#include <QAbstractScrollArea>
#include <QPointer>
#include <QVariantAnimation>

#include <memory>
#include <vector>

namespace orva {

class AppState;

// The centre of a viewer window: shows the state's current image between the fit
// magnification and 20x, zooms with the wheel and pinches, pans by dragging, steps with
// clicks on the image halves and horizontal swipes, and reports magnification and the
// visible part back to the state. Still images are drawn from a mipmap pyramid (built off
// the main thread) so that reduced views are filtered and every paint stays cheap.
class ZoomableImageView : public QAbstractScrollArea {
    Q_OBJECT

public:
    ZoomableImageView(AppState &state, QWidget *parent = nullptr);
    ~ZoomableImageView() override;

    double magnification() const { return mag_; }
    double minimumMagnification() const { return minMag_; }
    bool isFitMode() const { return fitMode_; }
    // Visible part of the document, in document points with the origin at the top-left.
    QRectF clipBounds() const;
    QSizeF documentSize() const { return doc_; }
    // True while the pyramid for the shown still image is being built.
    bool isPreparing() const { return preparing_; }
    // True while a new image waits for its first drawing level before it replaces what is
    // on screen.
    bool isAwaitingFirstLevel() const { return awaiting_ != nullptr; }
    // The thin scroll indicators drawn over the image while it is scrolled or zoomed.
    bool areScrollIndicatorsShown() const { return indicatorsShown_; }

    // The window frame that auto-size would give the current image, for tests.
    std::optional<QRectF> autoSizeFrame() const;

signals:
    // Auto-size is about to set the window's frame.
    void windowResizeRequested();
    void fitModeChanged(bool fitMode);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Pyramid;
    using PyramidTask = Task<std::shared_ptr<const Pyramid>>;
    struct Prepared {
        std::shared_ptr<const DisplayImage> image;
        PyramidTask task;
    };

    void applyImage();
    void applyAnimation();
    void applyZoomRequest();
    void applyScrollTarget();
    void updateMinMagnification();
    void layoutFit();
    void setMagnification(double mag, std::optional<QPointF> viewportAnchor = std::nullopt);
    void setOrigin(QPointF origin);
    void syncScrollBars();
    void reportState();
    void resizeWindowToFit();
    void finishAutoSize(bool consumeZoomAction);
    void startPyramid();
    PyramidTask preparedPyramid(const DecodedImage &image, TaskPriority priority);
    void prepareDecoded(const QUrl &url, const DecodedImage &image);
    void setFitMode(bool fitMode);
    void revealScrollIndicators();
    void paintScrollIndicators(QPainter &painter);
    void prepareFadeBuffer();
    // Device pixels of `document` fitted into the viewport; empty when no fit applies.
    QSize fittedPixelSize(QSizeF document) const;
    // The fit level and where it goes, when the view draws the shown image from it (or,
    // `fading` it out, could).
    std::optional<std::pair<QImage, QPointF>> fitDrawing(double dpr, bool fading = false) const;
    void scheduleNextFrame();
    QSizeF viewportPoints() const;
    QPointF documentPoint(QPointF viewportPos) const;
    void drawStill(QPainter &painter, const QRectF &exposed, bool quick = false);

    AppState &state_;
    Scheduler &scheduler_;
    TaskRuntime &tasks_;

    std::optional<DecodedImage> shown_;
    QSizeF doc_;
    double mag_ = 1.0;
    double minMag_ = 1.0;
    bool fitMode_ = true;
    bool autoSizing_ = false;
    bool zoomActionApplied_ = false;
    bool syncingBars_ = false;
    QPointF origin_; // top-left of the visible part, document points

    zoom::SwipeRecognizer swipe_;
    zoom::PressTracker press_;

    std::shared_ptr<const Pyramid> pyramid_;
    PyramidTask pyramidTask_;
    bool preparing_ = false;
    bool fitLevelUsable_ = false;
    int pyramidGeneration_ = 0;
    // First levels built ahead (the shown file and its prefetched neighbours), newest last.
    std::vector<Prepared> prepared_;
    const DisplayImage *awaiting_ = nullptr;

    bool indicatorsShown_ = false;
    ScheduledAction indicatorsHide_;
    QVariantAnimation indicatorsFade_;

    int frame_ = 0;
    int loopsLeft_ = 0;
    ScheduledAction frameTimer_;

    QImage fadeFrom_;  // kept allocated between fades
    QImage fadeLayer_; // what fades out: the old fit level or the snapshot in fadeFrom_
    QPointF fadeAt_;
    bool fading_ = false;
    QVariantAnimation fade_;
};

} // namespace orva
