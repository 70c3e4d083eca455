#include "core/runtime/TaskRuntime.h"

#include <QThread>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>
#endif

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

// QThread::LowPriority changes nothing under Linux's default scheduler, so a thumbnail
// decode would compete with painting as an equal. A nice value, which Linux keeps per
// thread, lets the main thread and the decodes the user waits for go first.
void lowerThisThread()
{
#ifdef Q_OS_LINUX
    thread_local bool lowered = false;
    if (!lowered) {
        const pid_t self = gettid();
        errno = 0;
        const int current = getpriority(PRIO_PROCESS, self);
        if (errno == 0)
            setpriority(PRIO_PROCESS, self, std::min(current + utilityNiceness, 19));
        lowered = true;
    }
#endif
}
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
    if (priority == TaskPriority::userInitiated) {
        userInitiated_.start(QRunnable::create(std::move(job)));
        return;
    }
    utility_.start(QRunnable::create([job = std::move(job)] {
        lowerThisThread();
        job();
    }));
}

void TaskRuntime::waitForDone()
{
    userInitiated_.waitForDone();
    utility_.waitForDone();
}

} // namespace orva
