#pragma once

#include "core/runtime/Scheduler.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace orva::test {

// A scheduler on a virtual clock: time moves only when a test calls advance().
class VirtualScheduler final : public Scheduler {
public:
    double now() const override { return now_; }
    [[nodiscard]] ScheduledAction after(double seconds, std::function<void()> action) override;

    // Moves the clock forward, running every action that falls due on the way (including
    // those scheduled by actions run meanwhile), in time order.
    void advance(double seconds);
    // Number of actions still scheduled and not cancelled.
    int pendingCount() const;

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
