#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

namespace orva {

// The arithmetic of the zoomable image view, free of widgets so that it is tested without
// a display. Document coordinates are image points (the oriented pixel size); the view's
// visible part ("clip bounds") is a rectangle in those coordinates. Fractions reported to
// the state have their origin at the bottom-left of the image.
namespace zoom {

inline constexpr double maxMagnification = 20.0;
inline constexpr double wheelStep = 0.1;          // per mouse-wheel notch
inline constexpr double preciseWheelStep = 0.005; // per trackpad point
inline constexpr double zoomFactor = 1.5;         // zoom in / zoom out commands
inline constexpr double fitTolerance = 0.001;
inline constexpr double swipeThreshold = 50.0;  // points of horizontal travel
inline constexpr double clickTolerance = 3.0;   // points on either axis
inline constexpr qint64 tileBytes = 67'108'864; // 64 MiB per tile
inline constexpr double swipePause = 0.3;       // seconds without events that end a gesture

// min(viewport / document on both axes, 1.0); absent when a size is not positive (the
// caller keeps its previous minimum). A fitted image is never enlarged.
std::optional<double> fitMagnification(QSizeF document, QSizeF viewport);

struct WheelZoom {
    double magnification;
    bool fitMode;
};
// A wheel event's vertical delta `dy`: magnification x (1 + dy x k), k = 0.005 for precise
// (trackpad) deltas and 0.1 for wheel notches, clamped to [minimum, maximum]. Absent when
// dy is 0 or the change is at most 0.001. fitMode is whether the result lies within 0.001
// of the minimum.
std::optional<WheelZoom> wheelZoom(double current, double dy, bool precise, double minimum,
                                   double maximum = maxMagnification);

// Result of a zoom request.
enum class ZoomRequest { fit, actualSize, zoomIn, zoomOut };
struct RequestResult {
    double magnification;
    bool fitMode;
    bool anchored; // apply around the centre of the visible part (everything but fit)
};
RequestResult applyZoomRequest(ZoomRequest request, double current, double minimum,
                               double maximum = maxMagnification);

// Visible part as fractions of the document, origin bottom-left: (max(x/w,0), max(y/h,0),
// min(W/w,1), min(H/h,1)) for clip bounds (x, y, W, H) given bottom-left-origin. Absent
// when the document size is not positive.
std::optional<QRectF> visibleFraction(QSizeF document, QRectF clipBoundsBottomLeft);

// Clip-bounds origin that centres the view on a point given as fractions of the document
// (bottom-left origin): (tx x dw - cw/2, ty x dh - ch/2).
QPointF scrollOriginForTarget(QPointF target, QSizeF document, QSizeF clip);

// Centring of a document smaller than the viewport: when the document is narrower than
// the clip, the clip's x becomes (document width - clip width) / 2 (negative); likewise
// for the height. Otherwise the given (already constrained) origin stays.
QRectF centredClip(QRectF constrainedClip, QSizeF document);

// One horizontal two-finger swipe navigates at most once, after more than 50 points,
// only in fit mode. Feed every wheel event of the gesture. A gesture begins with an event
// in the began phase or, for drivers that report no phases, after a pause of `swipePause`.
class SwipeRecognizer {
public:
    enum class Phase { none, began, changed, ended };
    struct Event {
        double dx = 0;
        double dy = 0;
        bool precise = false;
        Phase phase = Phase::none;
        bool momentum = false;
        bool inverted = false; // natural scrolling
        double time = 0;       // seconds on a monotonic clock
    };
    struct Outcome {
        bool consumed = false;
        std::optional<bool> navigateForward; // set once per gesture
    };
    Outcome handle(const Event &event, bool fitMode);

private:
    double distance_ = 0;
    bool handled_ = false;
    std::optional<double> lastTime_;
};

// A press is a click until it moves more than 3 points on either axis from the press
// point; then it is a drag for the rest of the press.
class PressTracker {
public:
    void press(QPointF position);
    // The pan delta to apply (position - last applied position), or absent while the
    // press is still within the click tolerance or no press is active.
    std::optional<QPointF> move(QPointF position);
    struct Release {
        bool wasClick;
    };
    std::optional<Release> release();
    bool isPressed() const { return pressed_; }
    bool hasDragged() const { return dragged_; }

private:
    QPointF last_;
    bool pressed_ = false;
    bool dragged_ = false;
};

// A click at x navigates forward when x is right of the visible part's horizontal middle.
inline bool clickGoesForward(double x, double visibleMidX) { return x > visibleMidX; }

// Rows per tile so that R rows take at most 64 MiB: 64 MiB when bytesPerRow <= 0, 1 when
// a row alone is larger, otherwise 64 MiB / bytesPerRow. Each tile also carries the next
// two rows, so that neighbouring tiles overlap and no seam shows.
qint64 rowsPerTile(qint64 bytesPerRow);
int tileCount(qint64 height, qint64 bytesPerRow);
// Rows [first, first + count) of tile i, row 0 being the top row.
struct TileRows {
    qint64 first;
    qint64 count;
};
TileRows tileRows(int index, qint64 height, qint64 bytesPerRow);

// The window frame that shows an image whole: the image scaled by min((V.w - cw)/iw,
// (V.h - ch)/ih, 1), plus the chrome, each side rounded to the nearest integer (halves away
// from zero), centred in the screen's available area V; never smaller than `minimumFrame`
// (the window's minimum size), in which a smaller image is centred. Absent when a size is not
// positive.
std::optional<QRectF> windowFrameToFit(QSizeF imageSize, QRectF available, QSizeF chrome,
                                       QSizeF minimumFrame = {});

} // namespace zoom
} // namespace orva
