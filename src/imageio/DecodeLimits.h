#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace orva {

// Memory bounds for one decode. Real photos need up to a few hundred megabytes (a 100 MP
// image at 16 bits per channel is 800 MB); anything above is refused before allocating.
struct DecodeLimits {
    static qint64 maxImageBytes();                         // one decoded bitmap
    static constexpr qint64 maxPixels = 1'000'000'000;     // any one image
    static constexpr qint64 maxAnimationBytes = 1LL << 30; // all frames together
    static constexpr int maxSide = 1 << 20;

    // What one decode may use in all, the decoding libraries' own buffers included: a
    // quarter of the memory the process may use (physical memory, or less when a cgroup
    // or an address-space limit says so).
    static qint64 workingMemoryBudget();
    // Replaces the machine's budget (tests, and a process that knows better); absent
    // restores it.
    static void setWorkingMemoryBudget(std::optional<qint64> bytes);
    // Whether a decode estimated to need `bytes` of working memory may start. A refusal is
    // remembered on the calling thread so that the decode reports "too large", not "damaged".
    static bool fitsWorkingMemory(qint64 bytes);
    // Whether fitsWorkingMemory refused on this thread since the last call; clears it.
    static bool takeMemoryRefusal();
};

// The memory limit of the cgroup at `cgroupPath` (as /proc/self/cgroup names it) and its
// ancestors under `root`, the smallest that is set; absent when none is.
std::optional<qint64> cgroupMemoryLimit(const QString &root, const QString &cgroupPath);

// Sets the process-wide limits of the decoders (Qt's allocation limit, Exiv2's logging)
// once; every decode entry point calls it, so callers need not.
void initializeImageIO();

} // namespace orva
