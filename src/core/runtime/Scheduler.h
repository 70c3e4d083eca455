#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <memory>

namespace orva {

// A pending timed action. Owning the handle keeps the action scheduled; dropping or
// replacing it cancels the action, which is how debounces restart.
class ScheduledAction {
public:
    struct State {
        bool cancelled = false;
        bool fired = false;
    };

    ScheduledAction() = default;
    explicit ScheduledAction(std::shared_ptr<State> state) : state_(std::move(state)) {}
    ScheduledAction(ScheduledAction &&other) noexcept = default;
    ScheduledAction &operator=(ScheduledAction &&other) noexcept
    {
        if (this != &other) {
            cancel();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    ScheduledAction(const ScheduledAction &) = delete;
    ScheduledAction &operator=(const ScheduledAction &) = delete;
    ~ScheduledAction() { cancel(); }

    void cancel()
    {
        if (state_)
            state_->cancelled = true;
        state_.reset();
    }
    // Scheduled, not yet run and not cancelled.
    bool isPending() const { return state_ && !state_->cancelled && !state_->fired; }

    friend bool operator==(const ScheduledAction &a, const ScheduledAction &b)
    {
        return a.state_ == b.state_;
    }

private:
    std::shared_ptr<State> state_;
};

// The one seam for time: every debounce, hold and interval in Orva goes through it, so
// tests drive a virtual clock instead of sleeping. Main thread only.
class Scheduler {
public:
    virtual ~Scheduler() = default;
    // Seconds on a monotonic clock.
    virtual double now() const = 0;
    // Runs `action` on the main thread `seconds` from now, unless the handle is
    // cancelled or destroyed first.
    [[nodiscard]] virtual ScheduledAction after(double seconds, std::function<void()> action) = 0;
};

// The application's scheduler, on Qt's precise timers.
class QtScheduler final : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;
    double now() const override;
    [[nodiscard]] ScheduledAction after(double seconds, std::function<void()> action) override;

private:
    QElapsedTimer clock_;
    std::unique_ptr<QObject> context_; // timers die with the scheduler
};

} // namespace orva
