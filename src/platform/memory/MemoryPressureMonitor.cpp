#include "platform/memory/MemoryPressureMonitor.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace orva {

namespace {

constexpr double pollSeconds = 5.0;

std::optional<qint64> readNumberFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const qint64 v = f.readAll().trimmed().toLongLong(&ok); // "max" does not parse: no limit
    return ok ? std::optional(v) : std::nullopt;
}

} // namespace

MemoryPressureMonitor::MemoryPressureMonitor(Scheduler &scheduler, std::function<void()> onPressure,
                                             QObject *parent)
    : QObject(parent), scheduler_(scheduler), onPressure_(std::move(onPressure))
{
    // 150 ms of stall within a 2 s window; unprivileged triggers need a window that is a
    // multiple of 2 s, and some kernels refuse them entirely.
    fd_ = ::open("/proc/pressure/memory", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    static const char trigger[] = "some 150000 2000000";
    if (fd_ >= 0 && ::write(fd_, trigger, sizeof trigger) < 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Exception);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { onPressure_(); });
    } else {
        poll();
    }
}

MemoryPressureMonitor::~MemoryPressureMonitor()
{
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<MemoryPressureMonitor::Memory>
MemoryPressureMonitor::parseMeminfo(const QByteArray &text)
{
    qint64 available = -1;
    qint64 total = -1;
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2)
            continue;
        bool ok = false;
        const qint64 kb = parts[1].toLongLong(&ok);
        if (!ok)
            continue;
        if (parts[0] == "MemAvailable:")
            available = kb * 1024;
        else if (parts[0] == "MemTotal:")
            total = kb * 1024;
    }
    if (available < 0 || total <= 0)
        return std::nullopt;
    return Memory{available, total};
}

bool MemoryPressureMonitor::isUnderPressure(const Memory &memory, std::optional<qint64> cgroupLimit,
                                            std::optional<qint64> cgroupUsage)
{
    qint64 total = memory.total;
    qint64 available = memory.available;
    if (cgroupLimit && *cgroupLimit > 0 && *cgroupLimit < total) {
        total = *cgroupLimit;
        if (cgroupUsage)
            available = std::min(available, std::max<qint64>(0, *cgroupLimit - *cgroupUsage));
    }
    return available * 10 < total;
}

MemoryPressureMonitor::CgroupMemory
MemoryPressureMonitor::cgroupMemory(const QByteArray &selfCgroup, const QString &root)
{
    // cgroup v2: "0::/path"; v1: "N:controller,...:/path" with the memory controller
    // mounted in a folder of its own.
    QString base = root;
    QByteArray path;
    QString limitFile = QStringLiteral("memory.max");
    QString usageFile = QStringLiteral("memory.current");
    bool found = false;
    for (const QByteArray &line : selfCgroup.split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        const QByteArray group = line.mid(fields[0].size() + fields[1].size() + 2).trimmed();
        if (fields[1].split(',').contains("memory")) {
            base = root + QStringLiteral("/memory");
            path = group;
            limitFile = QStringLiteral("memory.limit_in_bytes");
            usageFile = QStringLiteral("memory.usage_in_bytes");
            found = true;
            break;
        }
        if (fields[0] == "0" && fields[1].isEmpty()) {
            path = group;
            found = true;
        }
    }
    CgroupMemory out;
    if (!found)
        return out;
    QString folder = base;
    const auto consider = [&](const QString &dir) {
        const auto limit = readNumberFile(dir + QLatin1Char('/') + limitFile);
        if (limit && *limit > 0 && (!out.limit || *limit < *out.limit))
            out.limit = limit;
    };
    consider(folder);
    for (const QByteArray &part : path.split('/')) {
        if (part.isEmpty() || part == "." || part == "..")
            continue;
        folder += QLatin1Char('/') + QFile::decodeName(part);
        consider(folder);
    }
    out.usage = readNumberFile(folder + QLatin1Char('/') + usageFile);
    return out;
}

void MemoryPressureMonitor::poll()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    QFile selfCgroup(QStringLiteral("/proc/self/cgroup"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        const CgroupMemory cgroup = cgroupMemory(
            selfCgroup.open(QIODevice::ReadOnly) ? selfCgroup.readAll() : QByteArray());
        if (const auto memory = parseMeminfo(meminfo.readAll()))
            if (isUnderPressure(*memory, cgroup.limit, cgroup.usage))
                onPressure_();
    }
    pollTimer_ = scheduler_.after(pollSeconds, [this] { poll(); });
}

} // namespace orva
