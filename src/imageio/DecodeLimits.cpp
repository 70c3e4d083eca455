#include "imageio/DecodeLimits.h"

#include "imageio/ExifReader.h"

#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

namespace orva {

namespace {

qint64 physicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : (4LL << 30);
}

std::optional<qint64> readLimitFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const qint64 v = f.readLine(64).trimmed().toLongLong(&ok); // "max" means none
    return ok && v > 0 ? std::optional(v) : std::nullopt;
}

// The memory this process may use: physical memory, capped by its cgroup (v2, or v1's
// memory controller) and by an address-space limit.
qint64 usableMemory()
{
    qint64 usable = physicalMemory();
    QFile self(QStringLiteral("/proc/self/cgroup"));
    if (self.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : self.readAll().split('\n')) {
            const QString path = QString::fromUtf8(line.mid(line.lastIndexOf(':') + 1));
            if (line.startsWith("0::"))
                if (const auto l = cgroupMemoryLimit(QStringLiteral("/sys/fs/cgroup"), path))
                    usable = std::min(usable, *l);
        }
    }
    if (const auto v1 =
            readLimitFile(QStringLiteral("/sys/fs/cgroup/memory/memory.limit_in_bytes")))
        usable = std::min(usable, *v1);
    rlimit as{};
    if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY)
        usable = std::min<qint64>(usable, qint64(std::min<rlim_t>(as.rlim_cur, rlim_t(1) << 62)));
    return usable;
}

std::atomic<qint64> budgetOverride{0};
thread_local bool refusedForMemory = false;

} // namespace

std::optional<qint64> cgroupMemoryLimit(const QString &root, const QString &cgroupPath)
{
    std::optional<qint64> limit;
    QString path = cgroupPath;
    while (true) {
        if (const auto l = readLimitFile(root + path + QStringLiteral("/memory.max")))
            limit = std::min(limit.value_or(*l), *l);
        if (path.isEmpty() || path == QLatin1String("/"))
            break;
        path.truncate(path.lastIndexOf(QLatin1Char('/')));
    }
    return limit;
}

qint64 DecodeLimits::maxImageBytes()
{
    // A quarter of the machine's memory, at most 1 GiB: enough for a 100 MP photo at 16
    // bits per channel, not enough for a hostile header to exhaust the machine.
    static const qint64 limit = std::clamp<qint64>(physicalMemory() / 4, 256LL << 20, 1LL << 30);
    return limit;
}

qint64 DecodeLimits::workingMemoryBudget()
{
    if (const qint64 o = budgetOverride.load(); o > 0)
        return o;
    static const qint64 budget = usableMemory() / 4;
    return budget;
}

bool DecodeLimits::fitsWorkingMemory(qint64 bytes)
{
    const bool fits = bytes >= 0 && bytes <= workingMemoryBudget();
    refusedForMemory = refusedForMemory || !fits;
    return fits;
}

bool DecodeLimits::takeMemoryRefusal() { return std::exchange(refusedForMemory, false); }

void DecodeLimits::setWorkingMemoryBudget(std::optional<qint64> bytes)
{
    budgetOverride.store(bytes ? std::max<qint64>(*bytes, 1) : 0);
}

void initializeImageIO()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QImageReader::setAllocationLimit(int(DecodeLimits::maxImageBytes() >> 20));
        initializeExiv2();
    });
}

} // namespace orva
