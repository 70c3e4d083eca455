#include "imageio/JpegHeader.h"

#include <algorithm>

namespace orva {

std::optional<JpegFrame> readJpegFrame(QIODevice &device)
{
    const QByteArray head = device.peek(1 << 20);
    const auto *d = reinterpret_cast<const uchar *>(head.constData());
    const qsizetype n = head.size();
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return std::nullopt;
    qsizetype i = 2;
    while (i + 4 <= n) {
        if (d[i] != 0xFF)
            return std::nullopt;
        const uchar marker = d[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        const int length = (d[i + 2] << 8) | d[i + 3];
        const bool sof =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
            if (i + 10 > n)
                return std::nullopt;
            JpegFrame f;
            f.height = (d[i + 5] << 8) | d[i + 6];
            f.width = (d[i + 7] << 8) | d[i + 8];
            // SOF2, 6, 10 and 14 are the progressive processes.
            f.progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            const int count = d[i + 9];
            for (int c = 0; c < count && i + 12 + 3 * c <= n; ++c) {
                const uchar sampling = d[i + 11 + 3 * c];
                f.components.append({std::max(1, sampling >> 4), std::max(1, sampling & 15)});
            }
            return f;
        }
        if (marker == 0xDA || length < 2)
            return std::nullopt;
        i += 2 + length;
    }
    return std::nullopt;
}

qint64 jpegCoefficientBytes(const JpegFrame &frame)
{
    if (!frame.progressive || frame.components.isEmpty())
        return 0;
    int hMax = 1;
    int vMax = 1;
    for (const auto &c : frame.components) {
        hMax = std::max(hMax, c.h);
        vMax = std::max(vMax, c.v);
    }
    auto ceilDiv = [](qint64 a, qint64 b) { return (a + b - 1) / b; };
    qint64 bytes = 0;
    for (const auto &c : frame.components) {
        // Blocks per component, padded to whole MCUs as libjpeg allocates them.
        const qint64 across = ceilDiv(ceilDiv(qint64(frame.width) * c.h, hMax), 8);
        const qint64 down = ceilDiv(ceilDiv(qint64(frame.height) * c.v, vMax), 8);
        bytes += ceilDiv(across, c.h) * c.h * ceilDiv(down, c.v) * c.v * 64 * 2;
    }
    return bytes;
}

} // namespace orva
