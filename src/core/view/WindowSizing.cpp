#include "core/view/WindowSizing.h"

namespace orva {

QRect restoredWindowFrame(const QRect &frame, std::optional<QSizeF> remembered, DisplayMode mode)
{
    if (mode == DisplayMode::autoSizeWindow || !remembered)
        return frame;
    return QRect(frame.topLeft(), remembered->toSize());
}

QRect launchWindowFrame(const QRect &available, std::optional<QSizeF> remembered)
{
    const QSizeF size = remembered.value_or(QSizeF(400, 300));
    const QPointF centre = QRectF(available).center();
    return QRectF(centre - QPointF(size.width(), size.height()) / 2, size).toRect();
}

void LiveResizeTracker::expectProgrammaticResize()
{
    programmaticUntil_ = scheduler_.now() + programmaticGrace;
    settle_.cancel();
}

void LiveResizeTracker::resized(QSize frameSize, bool normalState)
{
    if (!normalState || scheduler_.now() < programmaticUntil_) {
        settle_.cancel();
        return;
    }
    last_ = frameSize;
    settle_ = scheduler_.after(settleTime, [this] { onEnd_(last_); });
}

} // namespace orva
