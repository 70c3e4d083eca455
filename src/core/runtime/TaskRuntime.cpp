#include "core/runtime/TaskRuntime.h"

#include <QThread>

#include <algorithm>

namespace orva {

namespace {
thread_local CancellationToken currentToken;
}

CancellationToken CancellationToken::current() { return currentToken; }

CurrentTaskScope::CurrentTaskScope(const CancellationToken &token) : previous_(currentToken)
{
    currentToken = token;
}

CurrentTaskScope::~CurrentTaskScope() { currentToken = previous_; }

namespace {
int cores() { return std::max(1, QThread::idealThreadCount()); }
} // namespace

// One thread per core for what the user waits for, at least two so that a prefetch never
// queues the shown file behind it; utility work gets half the cores at low priority.
TaskRuntime::TaskRuntime() : TaskRuntime(std::max(2, cores()), std::max(1, cores() / 2)) {}

TaskRuntime::TaskRuntime(int userInitiatedThreads, int utilityThreads)
{
    userInitiated_.setMaxThreadCount(std::max(1, userInitiatedThreads));
    utility_.setMaxThreadCount(std::max(1, utilityThreads));
    utility_.setThreadPriority(QThread::LowPriority);
}

TaskRuntime::~TaskRuntime() { waitForDone(); }

void TaskRuntime::start(TaskPriority priority, std::function<void()> job)
{
    QThreadPool &pool = priority == TaskPriority::userInitiated ? userInitiated_ : utility_;
    pool.start(QRunnable::create(std::move(job)));
}

void TaskRuntime::waitForDone()
{
    userInitiated_.waitForDone();
    utility_.waitForDone();
}

} // namespace orva
