#include "core/view/ZoomModel.h"

#include <algorithm>
#include <cmath>

namespace orva {
namespace zoom {

namespace {

// Comparing with > also rejects NaN.
bool positive(QSizeF s) { return s.width() > 0 && s.height() > 0; }

} // namespace

std::optional<double> fitMagnification(QSizeF document, QSizeF viewport)
{
    if (!positive(document) || !positive(viewport))
        return std::nullopt;
    return std::min(
        {viewport.width() / document.width(), viewport.height() / document.height(), 1.0});
}

std::optional<WheelZoom> wheelZoom(double current, double dy, bool precise, double minimum,
                                   double maximum)
{
    if (dy == 0)
        return std::nullopt;
    const double k = precise ? preciseWheelStep : wheelStep;
    // std::clamp would be undefined if a tiny window ever made minimum exceed maximum.
    const double next = std::max(minimum, std::min(current * (1 + dy * k), maximum));
    // Ignoring tiny changes stops a trackpad's trailing deltas from re-laying out the view.
    if (std::abs(next - current) <= fitTolerance)
        return std::nullopt;
    return WheelZoom{next, std::abs(next - minimum) <= fitTolerance};
}

RequestResult applyZoomRequest(ZoomRequest request, double current, double minimum, double maximum)
{
    switch (request) {
    case ZoomRequest::fit:
        return {minimum, true, false};
    case ZoomRequest::actualSize:
        return {std::max(minimum, 1.0), false, true};
    case ZoomRequest::zoomIn:
        return {std::min(current * zoomFactor, maximum), false, true};
    case ZoomRequest::zoomOut:
        // Leaves fit mode even at the minimum so a later window resize keeps the magnification.
        return {std::max(current / zoomFactor, minimum), false, true};
    }
    return {current, false, true};
}

std::optional<QRectF> visibleFraction(QSizeF document, QRectF clip)
{
    if (!positive(document))
        return std::nullopt;
    const double w = document.width();
    const double h = document.height();
    // A centred small document has a negative clip origin; the state wants it inside 0..1.
    return QRectF(std::max(clip.x() / w, 0.0), std::max(clip.y() / h, 0.0),
                  std::min(clip.width() / w, 1.0), std::min(clip.height() / h, 1.0));
}

QPointF scrollOriginForTarget(QPointF target, QSizeF document, QSizeF clip)
{
    return {target.x() * document.width() - clip.width() / 2,
            target.y() * document.height() - clip.height() / 2};
}

QRectF centredClip(QRectF constrainedClip, QSizeF document)
{
    QRectF r = constrainedClip;
    if (document.width() < r.width())
        r.moveLeft((document.width() - r.width()) / 2);
    if (document.height() < r.height())
        r.moveTop((document.height() - r.height()) / 2);
    return r;
}

SwipeRecognizer::Outcome SwipeRecognizer::handle(const Event &event, bool fitMode)
{
    Outcome out;
    // Some X11 touchpad drivers send precise deltas without phases: there, a pause between
    // events is the only sign that one gesture ended and the next began.
    const bool paused = lastTime_ && event.time - *lastTime_ > swipePause;
    lastTime_ = event.time;
    // Mouse wheels and zoomed-in views scroll; only a trackpad in fit mode navigates.
    if (!event.precise || !fitMode)
        return out;
    const bool horizontal = std::abs(event.dy) < std::abs(event.dx);
    // Momentum after the fingers lift must not start a second navigation, but swallowing it
    // keeps the view from scrolling sideways.
    if (event.momentum) {
        out.consumed = horizontal;
        return out;
    }
    if (event.phase == Phase::began || (paused && event.phase == Phase::none)) {
        distance_ = 0;
        handled_ = false;
    }
    // A gesture that starts vertical is a scroll; one that started horizontal keeps the
    // events even when the fingers drift.
    if (!horizontal && distance_ == 0)
        return out;
    distance_ += event.dx;
    out.consumed = true;
    if (handled_ || std::abs(distance_) <= swipeThreshold)
        return out;
    handled_ = true;
    out.navigateForward = event.inverted ? distance_ < 0 : distance_ > 0;
    return out;
}

void PressTracker::press(QPointF position)
{
    last_ = position;
    pressed_ = true;
    dragged_ = false;
}

std::optional<QPointF> PressTracker::move(QPointF position)
{
    if (!pressed_)
        return std::nullopt;
    const QPointF delta = position - last_;
    // Until the tolerance is exceeded `last_` stays at the press point, so the first pan
    // delta includes the travel that was held back.
    if (!dragged_ && std::abs(delta.x()) <= clickTolerance && std::abs(delta.y()) <= clickTolerance)
        return std::nullopt;
    dragged_ = true;
    last_ = position;
    return delta;
}

std::optional<PressTracker::Release> PressTracker::release()
{
    if (!pressed_)
        return std::nullopt;
    pressed_ = false;
    return Release{!dragged_};
}

qint64 rowsPerTile(qint64 bytesPerRow)
{
    if (bytesPerRow <= 0)
        return tileBytes;
    return std::max<qint64>(tileBytes / bytesPerRow, 1);
}

int tileCount(qint64 height, qint64 bytesPerRow)
{
    if (height <= 0)
        return 0;
    const qint64 rows = rowsPerTile(bytesPerRow);
    return int((height + rows - 1) / rows);
}

TileRows tileRows(int index, qint64 height, qint64 bytesPerRow)
{
    if (index < 0 || index >= tileCount(height, bytesPerRow))
        return {0, 0};
    const qint64 rows = rowsPerTile(bytesPerRow);
    const qint64 first = index * rows;
    // Overlapping the next tile by two rows keeps scaled tiles from showing a seam.
    return {first, std::min(rows + 2, height - first)};
}

std::optional<QRectF> windowFrameToFit(QSizeF imageSize, QRectF available, QSizeF chrome,
                                       QSizeF minimumFrame)
{
    const QSizeF room = available.size() - chrome;
    if (!positive(imageSize) || !positive(room))
        return std::nullopt;
    const double scale =
        std::min({room.width() / imageSize.width(), room.height() / imageSize.height(), 1.0});
    const QSizeF frame(
        std::max(std::round(imageSize.width() * scale + chrome.width()), minimumFrame.width()),
        std::max(std::round(imageSize.height() * scale + chrome.height()), minimumFrame.height()));
    const QPointF origin =
        available.topLeft() +
        QPointF(available.width() - frame.width(), available.height() - frame.height()) * 0.5;
    return QRectF(origin, frame);
}

} // namespace zoom
} // namespace orva
