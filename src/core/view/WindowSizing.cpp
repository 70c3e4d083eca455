#include "core/view/WindowSizing.h"

namespace orva {

QRect restoredWindowFrame(const QRect &frame, std::optional<QSizeF> remembered, DisplayMode mode)
{
    if (mode == DisplayMode::autoSizeWindow || !remembered)
        return frame;
    return QRect(frame.topLeft(), remembered->toSize());
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
