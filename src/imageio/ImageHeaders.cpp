#include "imageio/ImageHeaders.h"

#include <QFile>

#include <algorithm>
#include <bit>

namespace orva {

namespace {

quint32 le32(const uchar *d) { return d[0] | d[1] << 8 | d[2] << 16 | quint32(d[3]) << 24; }
quint16 le16(const uchar *d) { return quint16(d[0] | d[1] << 8); }

const QString rgb = QStringLiteral("RGB");
const QString gray = QStringLiteral("Gray");

std::optional<HeaderDepthAndModel> png(const uchar *d, qsizetype n)
{
    // Signature, then the IHDR chunk: length, type, width, height, bit depth, colour type.
    if (n < 26 || std::string_view(reinterpret_cast<const char *>(d + 12), 4) != "IHDR")
        return HeaderDepthAndModel{};
    const int depth = d[24];
    const bool depthValid = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    HeaderDepthAndModel out;
    if (depthValid)
        out.depth = depth;
    switch (d[25]) {
    case 0: // grey
    case 4: // grey with alpha
        out.model = gray;
        break;
    case 2: // RGB
    case 3: // palette of RGB entries
    case 6: // RGB with alpha
        out.model = rgb;
        break;
    default:
        break;
    }
    return out;
}

std::optional<HeaderDepthAndModel> bmp(const uchar *d, qsizetype n)
{
    if (n < 18)
        return HeaderDepthAndModel{};
    const quint32 headerSize = le32(d + 14);
    int bits = 0;
    quint32 compression = 0;
    if (headerSize == 12 && n >= 26) { // OS/2 1.x core header
        bits = le16(d + 24);
    } else if (headerSize >= 40 && n >= 34) {
        bits = le16(d + 28);
        compression = le32(d + 30);
    } else {
        return HeaderDepthAndModel{};
    }
    HeaderDepthAndModel out{std::nullopt, rgb};
    switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8:
        out.depth = bits; // palette indices
        break;
    case 16:
    case 24:
    case 32: {
        int widest = bits == 16 ? 5 : 8;
        // Bit fields: the masks follow the 40-byte header, inside it for the later versions.
        if ((compression == 3 || compression == 6) && n >= 66) {
            const int r = std::popcount(le32(d + 54));
            const int g = std::popcount(le32(d + 58));
            const int b = std::popcount(le32(d + 62));
            if (r > 0 || g > 0 || b > 0)
                widest = std::max({r, g, b});
        }
        if (compression == 0 || compression == 3 || compression == 6)
            out.depth = widest;
        break;
    }
    default:
        break;
    }
    return out;
}

} // namespace

std::optional<HeaderDepthAndModel> depthAndModelFromHeader(const QByteArray &head)
{
    const auto *d = reinterpret_cast<const uchar *>(head.constData());
    const qsizetype n = head.size();
    const auto startsWith = [&](std::string_view magic, qsizetype at = 0) {
        return n >= at + qsizetype(magic.size()) &&
               std::equal(magic.begin(), magic.end(), head.constData() + at);
    };
    if (startsWith("\x89PNG\r\n\x1a\n"))
        return png(d, n);
    // GIF stores every colour table entry with 8 bits per sample; WebP is 8-bit RGB in all
    // its flavours (lossy, lossless, with or without alpha).
    if (startsWith("GIF87a") || startsWith("GIF89a") ||
        (startsWith("RIFF") && startsWith("WEBP", 8)))
        return HeaderDepthAndModel{8, rgb};
    if (startsWith("BM"))
        return bmp(d, n);
    return std::nullopt;
}

std::optional<HeaderDepthAndModel> readHeaderDepthAndModel(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return depthAndModelFromHeader(f.read(128));
}

} // namespace orva
