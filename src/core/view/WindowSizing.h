#pragma once

#include "core/model/Enums.h"
#include "core/runtime/Scheduler.h"

#include <QRect>
#include <QSize>

#include <functional>
#include <optional>

namespace orva {

// Where a viewer window goes when it first appears: the remembered size with its
// top-left corner kept; unchanged in auto-size mode (the image decides) or without a
// remembered size.
QRect restoredWindowFrame(const QRect &frame, std::optional<QSizeF> remembered, DisplayMode mode);

// The first, empty window at launch: the remembered size (or 400 x 300) centred in the
// screen's available area.
QRect launchWindowFrame(const QRect &available, std::optional<QSizeF> remembered);

// Tells a resize the user made from the ones Orva makes itself. X11 has no "live resize
// ended" event, so the end of a user resize is the moment resize events have been quiet
// for `settleTime`; resizes that follow Orva's own requests within `programmaticGrace`
// (full screen, auto-size, restoring) are not the user's and are not reported.
class LiveResizeTracker {
public:
    static constexpr double settleTime = 0.5;
    static constexpr double programmaticGrace = 1.0;

    LiveResizeTracker(Scheduler &scheduler, std::function<void(QSize)> onLiveResizeEnd)
        : scheduler_(scheduler), onEnd_(std::move(onLiveResizeEnd))
    {
    }

    // Orva is about to resize the window (or change its full-screen state).
    void expectProgrammaticResize();
    // A resize happened; `frameSize` is the outer size, `normalState` false while full
    // screen, maximised or minimised.
    void resized(QSize frameSize, bool normalState);

private:
    Scheduler &scheduler_;
    std::function<void(QSize)> onEnd_;
    double programmaticUntil_ = -1.0;
    QSize last_;
    ScheduledAction settle_;
};

} // namespace orva
