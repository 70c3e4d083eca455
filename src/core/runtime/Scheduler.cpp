#include "core/runtime/Scheduler.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace orva {

QtScheduler::QtScheduler() : context_(std::make_unique<QObject>()) { clock_.start(); }

QtScheduler::~QtScheduler() = default;

double QtScheduler::now() const { return double(clock_.nsecsElapsed()) / 1e9; }

ScheduledAction QtScheduler::after(double seconds, std::function<void()> action)
{
    auto state = std::make_shared<ScheduledAction::State>();
    const double ms = std::isfinite(seconds) ? std::ceil(std::max(0.0, seconds) * 1000.0) : 0.0;
    const int delay = int(std::min(ms, double(std::numeric_limits<int>::max())));
    QTimer::singleShot(delay, Qt::PreciseTimer, context_.get(),
                       [state, action = std::move(action)] {
                           if (state->cancelled || state->fired)
                               return;
                           state->fired = true;
                           action();
                       });
    return ScheduledAction(std::move(state));
}

} // namespace orva
