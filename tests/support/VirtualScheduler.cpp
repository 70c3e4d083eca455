#include "support/VirtualScheduler.h"

#include <algorithm>

namespace orva::test {

ScheduledAction VirtualScheduler::after(double seconds, std::function<void()> action)
{
    auto state = std::make_shared<ScheduledAction::State>();
    queue_.emplace(std::make_pair(now_ + std::max(0.0, seconds), sequence_++),
                   Entry{state, std::move(action)});
    return ScheduledAction(std::move(state));
}

void VirtualScheduler::advance(double seconds)
{
    const double target = now_ + seconds;
    while (!queue_.empty() && queue_.begin()->first.first <= target + 1e-9) {
        auto node = queue_.extract(queue_.begin());
        now_ = node.key().first;
        Entry &e = node.mapped();
        if (e.state->cancelled)
            continue;
        e.state->fired = true;
        e.action();
    }
    now_ = target;
}

int VirtualScheduler::pendingCount() const
{
    return int(std::count_if(queue_.begin(), queue_.end(),
                             [](const auto &kv) { return !kv.second.state->cancelled; }));
}

} // namespace orva::test
