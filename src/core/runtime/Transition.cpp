#include "core/runtime/Transition.h"

#include <QEasingCurve>

#include <algorithm>

namespace orva {

namespace {
constexpr double frameSeconds = 1.0 / 60;
}

Transition::Transition(Scheduler &scheduler, double seconds, std::function<void(double)> onStep)
    : scheduler_(scheduler), seconds_(seconds), onStep_(std::move(onStep))
{
}

void Transition::start()
{
    startedAt_ = scheduler_.now();
    frame_ = scheduler_.after(frameSeconds, [this] { step(); });
    onStep_(0.0);
}

void Transition::stop() { frame_.cancel(); }

double Transition::value() const
{
    if (!isRunning())
        return 1.0;
    const double t = std::clamp((scheduler_.now() - startedAt_) / seconds_, 0.0, 1.0);
    return QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(t);
}

void Transition::step()
{
    const bool done = scheduler_.now() - startedAt_ >= seconds_;
    if (!done)
        frame_ = scheduler_.after(frameSeconds, [this] { step(); });
    onStep_(value());
}

} // namespace orva
