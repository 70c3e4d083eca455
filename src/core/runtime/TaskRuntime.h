#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QRunnable>
#include <QThreadPool>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace orva {

// How much lower than the rest of the process utility work runs (a nice value).
inline constexpr int utilityNiceness = 10;

enum class TaskPriority {
    userInitiated, // decoding, listing: what the user waits for
    utility,       // thumbnails, histograms: may lag behind
};

// Cooperative cancellation, read by the work itself. A default token is never cancelled.
class CancellationToken {
public:
    CancellationToken() = default;
    explicit CancellationToken(std::shared_ptr<const std::atomic<bool>> flag)
        : flag_(std::move(flag))
    {
    }
    bool isCancelled() const { return flag_ && flag_->load(std::memory_order_relaxed); }

    // The token of the task running on this thread (a never-cancelled token outside
    // tasks), for deep code such as decoders that checks between expensive steps.
    static CancellationToken current();

private:
    friend class CurrentTaskScope;
    std::shared_ptr<const std::atomic<bool>> flag_;
};

// Installs a token as the current one for the lifetime of the scope.
class CurrentTaskScope {
public:
    explicit CurrentTaskScope(const CancellationToken &token);
    ~CurrentTaskScope();
    CurrentTaskScope(const CurrentTaskScope &) = delete;
    CurrentTaskScope &operator=(const CurrentTaskScope &) = delete;

private:
    CancellationToken previous_;
};

namespace detail {

template <class T> struct TaskShared {
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    QMutex mutex;
    QWaitCondition done;
    bool finished = false;
    std::optional<T> value;
    std::vector<std::pair<QPointer<QObject>, std::function<void(const std::optional<T> &)>>>
        waiters;

    // Posts to the application object and checks the context there: a context destroyed
    // on the main thread while this runs on a worker is never touched.
    void deliver(QPointer<QObject> context, std::function<void(const std::optional<T> &)> fn,
                 const std::shared_ptr<TaskShared> &self)
    {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [context = std::move(context), self, fn = std::move(fn)] {
                if (context)
                    fn(self->value);
            },
            Qt::QueuedConnection);
    }

    void finish(std::optional<T> result, const std::shared_ptr<TaskShared> &self)
    {
        decltype(waiters) toNotify;
        {
            QMutexLocker lock(&mutex);
            value = std::move(result);
            finished = true;
            toNotify.swap(waiters);
            done.wakeAll();
        }
        for (auto &[context, fn] : toNotify)
            deliver(std::move(context), std::move(fn), self);
    }
};

} // namespace detail

// A handle on background work producing a T. Copies share one result, which is kept
// once the work has finished, so any number of awaiters (early or late) receive it.
// A cancelled task finishes without a result.
template <class T> class Task {
public:
    Task() = default;

    bool isValid() const { return bool(shared_); }

    void cancel()
    {
        if (shared_)
            shared_->cancelled->store(true, std::memory_order_relaxed);
    }
    bool isCancelled() const { return shared_ && shared_->cancelled->load(); }

    bool isFinished() const
    {
        if (!shared_)
            return false;
        QMutexLocker lock(&shared_->mutex);
        return shared_->finished;
    }

    // The result when finished with one; absent while running, when cancelled or when
    // the work returned nothing.
    std::optional<T> result() const
    {
        if (!shared_)
            return std::nullopt;
        QMutexLocker lock(&shared_->mutex);
        return shared_->finished ? shared_->value : std::nullopt;
    }

    // Calls `fn(result)` on the main thread once the work has finished, later than this call
    // even when it has finished already. Nothing is called if `context` (a main-thread
    // object, such as a view or a viewer state) is destroyed first.
    template <class Fn> void then(QObject *context, Fn &&fn) const
    {
        if (!shared_ || !context)
            return;
        std::function<void(const std::optional<T> &)> f(std::forward<Fn>(fn));
        {
            QMutexLocker lock(&shared_->mutex);
            if (!shared_->finished) {
                shared_->waiters.emplace_back(QPointer<QObject>(context), std::move(f));
                return;
            }
        }
        shared_->deliver(QPointer<QObject>(context), std::move(f), shared_);
    }

    // Blocks until finished. For tools and benchmarks; never call it on the main thread of
    // the application.
    std::optional<T> waitForResult() const
    {
        if (!shared_)
            return std::nullopt;
        QMutexLocker lock(&shared_->mutex);
        while (!shared_->finished)
            shared_->done.wait(&shared_->mutex);
        return shared_->value;
    }

    friend bool operator==(const Task &a, const Task &b) { return a.shared_ == b.shared_; }

private:
    friend class TaskRuntime;
    std::shared_ptr<detail::TaskShared<T>> shared_;
};

// Background work on two thread pools, one per priority, so that utility work such as
// thumbnails never holds up a decode the user waits for.
class TaskRuntime {
public:
    TaskRuntime();
    // Explicit pool sizes, for tests that need to know when a pool is saturated.
    TaskRuntime(int userInitiatedThreads, int utilityThreads);
    ~TaskRuntime();
    TaskRuntime(const TaskRuntime &) = delete;
    TaskRuntime &operator=(const TaskRuntime &) = delete;

    // Runs `work(token)` on a pool thread. `work` returns T or std::optional<T>; an empty
    // optional, like cancellation, finishes the task without a result. Work cancelled
    // before it starts never runs.
    template <class Work> auto run(TaskPriority priority, Work work)
    {
        using R = std::invoke_result_t<Work &, const CancellationToken &>;
        using T = typename Unwrap<R>::type;
        Task<T> task;
        task.shared_ = std::make_shared<detail::TaskShared<T>>();
        auto shared = task.shared_;
        start(priority, [shared, work = std::move(work)]() mutable {
            std::optional<T> result;
            CancellationToken token(shared->cancelled);
            if (!token.isCancelled()) {
                CurrentTaskScope scope(token);
                result = work(token);
            }
            if (token.isCancelled())
                result.reset();
            shared->finish(std::move(result), shared);
        });
        return task;
    }

    // Blocks until both pools are idle (shutdown, tests, tools).
    void waitForDone();

private:
    template <class R> struct Unwrap {
        using type = R;
    };
    template <class R> struct Unwrap<std::optional<R>> {
        using type = R;
    };

    void start(TaskPriority priority, std::function<void()> job);

    QThreadPool userInitiated_;
    QThreadPool utility_;
};

} // namespace orva
