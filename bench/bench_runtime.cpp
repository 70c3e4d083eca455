#include "core/runtime/TaskRuntime.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <benchmark/benchmark.h>

using namespace orva;

// From handing work to the pool to its result arriving on the main thread: the floor
// under every decode the viewer applies.
static void BM_TaskRoundTripToMainThread(benchmark::State &state)
{
    TaskRuntime runtime;
    QObject context;
    for (auto _ : state) {
        bool done = false;
        auto task =
            runtime.run(TaskPriority::userInitiated, [](const CancellationToken &) { return 1; });
        task.then(&context, [&](const std::optional<int> &) { done = true; });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}
BENCHMARK(BM_TaskRoundTripToMainThread)->Unit(benchmark::kMicrosecond);

// A finished task handing its kept result to a late awaiter.
static void BM_KeptResultToLateAwaiter(benchmark::State &state)
{
    TaskRuntime runtime;
    QObject context;
    auto task =
        runtime.run(TaskPriority::userInitiated, [](const CancellationToken &) { return 1; });
    task.waitForResult();
    for (auto _ : state) {
        bool done = false;
        task.then(&context, [&](const std::optional<int> &) { done = true; });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}
BENCHMARK(BM_KeptResultToLateAwaiter)->Unit(benchmark::kMicrosecond);
