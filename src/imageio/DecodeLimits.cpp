#include "imageio/DecodeLimits.h"

#include "imageio/ExifReader.h"

#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <mutex>

#include <unistd.h>

namespace orva {

qint64 DecodeLimits::maxImageBytes()
{
    // A quarter of the machine's memory, at most 1 GiB: enough for a 100 MP photo at 16
    // bits per channel, not enough for a hostile header to exhaust the machine.
    static const qint64 limit = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGE_SIZE);
        const qint64 ram = pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : (4LL << 30);
        return std::clamp<qint64>(ram / 4, 256LL << 20, 1LL << 30);
    }();
    return limit;
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
