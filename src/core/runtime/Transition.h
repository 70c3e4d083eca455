#pragma once

#include "core/runtime/Scheduler.h"

#include <functional>

namespace orva {

// A progress from 0 to 1 over a fixed time with an ease-in-out curve, stepped through the
// scheduler so that tests move it with the virtual clock. Main thread only.
class Transition {
public:
    Transition(Scheduler &scheduler, double seconds, std::function<void(double)> onStep);

    // Starts again from 0; `onStep` sees every frame's eased progress, 1 last.
    void start();
    void stop();
    bool isRunning() const { return frame_.isPending(); }
    // Eased progress; 1 when not running.
    double value() const;

private:
    void step();

    Scheduler &scheduler_;
    double seconds_;
    std::function<void(double)> onStep_;
    double startedAt_ = 0;
    ScheduledAction frame_;
};

} // namespace orva
