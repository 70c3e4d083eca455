#pragma once

#include "core/runtime/Scheduler.h"

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>
#include <optional>

namespace orva {

// Calls `onPressure` on the main thread when the system runs short of memory: through a
// Linux PSI trigger on /proc/pressure/memory where one can be registered, otherwise by
// checking available memory (capped by the cgroup's memory.max) every few seconds.
class MemoryPressureMonitor : public QObject {
    Q_OBJECT

public:
    MemoryPressureMonitor(Scheduler &scheduler, std::function<void()> onPressure,
                          QObject *parent = nullptr);
    ~MemoryPressureMonitor() override;

    bool usesPressureStallTrigger() const { return fd_ >= 0; }

    // Available and total memory in bytes from meminfo-formatted text, for the polling path.
    struct Memory {
        qint64 available;
        qint64 total;
    };
    static std::optional<Memory> parseMeminfo(const QByteArray &text);
    // Short of memory: less than a tenth of the (cgroup-capped) total is available.
    static bool isUnderPressure(const Memory &memory, std::optional<qint64> cgroupLimit,
                                std::optional<qint64> cgroupUsage);

    // The memory limit and use of this process's own control group, from the text of
    // /proc/self/cgroup and the cgroup file system mounted at `root`. A limit on an
    // enclosing group binds too, so the smallest one on the way down counts.
    struct CgroupMemory {
        std::optional<qint64> limit;
        std::optional<qint64> usage;
    };
    static CgroupMemory cgroupMemory(const QByteArray &selfCgroup,
                                     const QString &root = QStringLiteral("/sys/fs/cgroup"));

private:
    void poll();

    Scheduler &scheduler_;
    std::function<void()> onPressure_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    ScheduledAction pollTimer_;
};

} // namespace orva
