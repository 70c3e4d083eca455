#pragma once

#include "core/runtime/Scheduler.h"

#include <algorithm>
#include <cstdint>
#include <map>

namespace orva::test {

// A scheduler on a virtual clock: time moves only when a test calls advance().
class VirtualScheduler final : public Scheduler {
public:
    double now() const override { return now_; }
    [[nodiscard]] ScheduledAction after(double seconds, std::function<void()> action) override
    {
        auto state = std::make_shared<ScheduledAction::State>();
        queue_.emplace(std::make_pair(now_ + std::max(0.0, seconds), sequence_++),
                       Entry{state, std::move(action)});
        return ScheduledAction(std::move(state));
    }

    // Moves the clock forward, running every action that falls due on the way (including
    // those scheduled by actions run meanwhile), in time order.
    void advance(double seconds)
    {
        const double target = now_ + seconds;
        while (!queue_.empty() && queue_.begin()->first.first <= target + 1e-9) {
            auto node = queue_.extract(queue_.begin());
            now_ = node.key().first;
            if (node.mapped().state->cancelled)
                continue;
            node.mapped().state->fired = true;
            node.mapped().action();
        }
        now_ = target;
    }

private:
    struct Entry {
        std::shared_ptr<ScheduledAction::State> state;
        std::function<void()> action;
    };
    double now_ = 0;
    std::uint64_t sequence_ = 0;
    std::map<std::pair<double, std::uint64_t>, Entry> queue_;
};

} // namespace orva::test
