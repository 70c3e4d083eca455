#include "imageio/PsdReader.h"

#include <QColorSpace>
#include <QIODevice>
#include <QList>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace orva {

namespace {

constexpr int headerSize = 26;
constexpr int maxChannels = 56;
constexpr quint32 maxPsdSide = 30000;
constexpr quint32 maxPsbSide = 300000;
constexpr qint64 maxIccSize = 16 << 20;
constexpr int rowsPerCancelCheck = 64;

enum Mode {
    bitmap = 0,
    gray = 1,
    indexed = 2,
    rgb = 3,
    cmyk = 4,
    multichannel = 7,
    duotone = 8,
    lab = 9
};

int colourChannelsOf(int mode)
{
    switch (mode) {
    case rgb:
    case lab:
        return 3;
    case cmyk:
        return 4;
    default:
        return 1;
    }
}

// Buffered big-endian reader. PackBits is decoded a byte at a time, and no length read from
// the file is ever used to size an allocation before it is known to fit in what remains.
class Input {
public:
    explicit Input(QIODevice &device)
        : m_device(device), m_sequential(device.isSequential()), m_buffer(64 * 1024)
    {
    }

    // Bytes left, or -1 when the device cannot tell (a pipe).
    qint64 remaining() const
    {
        if (m_sequential)
            return -1;
        return std::max<qint64>(0, m_device.size() - m_device.pos()) + (m_end - m_pos);
    }

    // False only when `n` bytes are known not to be there; sequential input is caught by the
    // short read instead.
    bool mayHave(qint64 n) const
    {
        const qint64 left = remaining();
        return n >= 0 && (left < 0 || n <= left);
    }

    bool read(void *dst, qint64 n)
    {
        auto *out = static_cast<char *>(dst);
        while (n > 0) {
            if (m_pos == m_end) {
                if (n >= qint64(m_buffer.size())) // large reads bypass the buffer
                    return m_device.read(out, n) == n;
                if (!refill())
                    return false;
            }
            const qint64 take = std::min(n, m_end - m_pos);
            std::memcpy(out, m_buffer.data() + m_pos, size_t(take));
            m_pos += take;
            out += take;
            n -= take;
        }
        return true;
    }

    int byte()
    {
        if (m_pos == m_end && !refill())
            return -1;
        return uchar(m_buffer[size_t(m_pos++)]);
    }

    bool skip(qint64 n)
    {
        if (!mayHave(n))
            return false;
        const qint64 buffered = std::min(n, m_end - m_pos);
        m_pos += buffered;
        n -= buffered;
        if (n == 0)
            return true;
        if (!m_sequential)
            return m_device.seek(m_device.pos() + n);
        return m_device.skip(n) == n;
    }

    template <typename T> std::optional<T> be()
    {
        uchar bytes[sizeof(T)];
        if (!read(bytes, sizeof(T)))
            return std::nullopt;
        return qFromBigEndian<T>(bytes);
    }

    // A section length: u32, or u64 where the large-document format widens it.
    std::optional<qint64> length(bool wide)
    {
        if (!wide)
            return be<quint32>();
        const auto v = be<quint64>();
        if (!v || *v > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(*v);
    }

private:
    bool refill()
    {
        const qint64 got = m_device.read(m_buffer.data(), qint64(m_buffer.size()));
        m_pos = 0;
        m_end = std::max<qint64>(got, 0);
        return m_end > 0;
    }

    QIODevice &m_device;
    const bool m_sequential;
    std::vector<char> m_buffer;
    qint64 m_pos = 0;
    qint64 m_end = 0;
};

// Reads inside a section of known length, never past its end: the structures in the resource
// and layer sections are optional to us, so damage there ends the walk, not the decode.
class Section {
public:
    Section(Input &in, qint64 length) : m_in(in), m_left(length) {}

    qint64 left() const { return m_left; }
    bool take(qint64 n) { return n >= 0 && n <= m_left && (m_left -= n, true); }
    bool read(void *dst, qint64 n) { return take(n) && m_in.read(dst, n); }
    bool skip(qint64 n) { return take(n) && m_in.skip(n); }
    template <typename T> std::optional<T> be()
    {
        return take(sizeof(T)) ? m_in.be<T>() : std::nullopt;
    }
    std::optional<qint64> length(bool wide)
    {
        return take(wide ? 8 : 4) ? m_in.length(wide) : std::nullopt;
    }
    // Leaves the input at the end of the section.
    bool finish() { return skip(m_left); }

private:
    Input &m_in;
    qint64 m_left;
};

std::optional<PsdHeader> parseHeader(const uchar *h)
{
    if (std::memcmp(h, "8BPS", 4) != 0)
        return std::nullopt;
    const quint16 version = qFromBigEndian<quint16>(h + 4);
    if (version != 1 && version != 2)
        return std::nullopt;
    // The six reserved bytes are not checked: nothing depends on them.
    PsdHeader header;
    header.isLargeDocument = version == 2;
    header.channels = qFromBigEndian<quint16>(h + 12);
    const quint32 height = qFromBigEndian<quint32>(h + 14);
    const quint32 width = qFromBigEndian<quint32>(h + 18);
    header.depth = qFromBigEndian<quint16>(h + 22);
    header.colorMode = qFromBigEndian<quint16>(h + 24);
    const quint32 maxSide = header.isLargeDocument ? maxPsbSide : maxPsdSide;
    if (width < 1 || width > maxSide || height < 1 || height > maxSide)
        return std::nullopt;
    header.width = int(width);
    header.height = int(height);
    static constexpr int depths[] = {1, 8, 16, 32};
    static constexpr int modes[] = {bitmap, gray, indexed, rgb, cmyk, multichannel, duotone, lab};
    if (std::find(std::begin(depths), std::end(depths), header.depth) == std::end(depths) ||
        std::find(std::begin(modes), std::end(modes), header.colorMode) == std::end(modes))
        return std::nullopt;
    if (header.channels < colourChannelsOf(header.colorMode) || header.channels > maxChannels)
        return std::nullopt;
    return header;
}

struct Resources {
    QByteArray icc;
    int transparentIndex = -1;
};

// Image resources: only the ICC profile (1039) and the indexed transparency index (1047) are
// used.
std::optional<Resources> readResources(Input &in)
{
    const auto length = in.be<quint32>();
    if (!length || !in.mayHave(*length))
        return std::nullopt;
    Section s(in, *length);
    Resources res;
    while (s.left() >= 12) {
        char signature[4];
        const auto id = s.read(signature, 4) ? s.be<quint16>() : std::nullopt;
        const auto nameLength = id ? s.be<quint8>() : std::nullopt;
        // The Pascal name with its length byte is padded to an even size.
        const bool named = nameLength && s.skip(*nameLength + ((*nameLength & 1) ? 0 : 1));
        const auto size = named ? s.be<quint32>() : std::nullopt;
        if (!size || qint64(*size) + (*size & 1) > s.left())
            break;
        const qint64 padded = qint64(*size) + (*size & 1);
        if (*id == 1039 && *size <= maxIccSize) {
            res.icc.resize(qsizetype(*size));
            if (!s.read(res.icc.data(), *size) || !s.skip(padded - *size))
                return std::nullopt;
        } else if (*id == 1047 && *size >= 2) {
            const auto index = s.be<quint16>();
            if (!index || !s.skip(padded - 2))
                return std::nullopt;
            res.transparentIndex = *index;
        } else if (!s.skip(padded)) {
            return std::nullopt;
        }
    }
    if (!s.finish())
        return std::nullopt;
    return res;
}

// Whether the composite's first extra channel is its transparency, which Photoshop flags with
// a negative layer count: in the layer info, or, when that is empty (16- and 32-bit files), in
// an Lr16, Lr32 or Layr block. Leaves the input after the layer and mask section.
std::optional<bool> readMergedAlphaFlag(Input &in, bool large)
{
    const auto length = in.length(large);
    if (!length || !in.mayHave(*length))
        return std::nullopt;
    Section s(in, *length);
    bool mergedAlpha = false;
    if (const auto info = s.length(large); info && *info <= s.left()) {
        if (*info >= 2) {
            if (const auto count = s.be<qint16>())
                mergedAlpha = *count < 0;
            s.skip(*info - 2);
        } else if (const auto mask = s.be<quint32>(); mask && s.skip(*mask)) {
            while (s.left() >= 12) {
                char signature[4], key[4];
                if (!s.read(signature, 4) || !s.read(key, 4))
                    break;
                // In PSB these blocks, and a few others, have 64-bit lengths.
                static constexpr const char *wideKeys[] = {"LMsk", "Lr16", "Lr32", "Layr", "Mt16",
                                                           "Mt32", "Mtrn", "Alph", "FMsk", "lnk2",
                                                           "FEid", "FXid", "PxSD"};
                const bool wide =
                    large && std::any_of(std::begin(wideKeys), std::end(wideKeys),
                                         [&](const char *k) { return !std::memcmp(k, key, 4); });
                const auto size = s.length(wide);
                if (!size || *size > s.left())
                    break;
                const bool layers = !std::memcmp(key, "Lr16", 4) || !std::memcmp(key, "Lr32", 4) ||
                                    !std::memcmp(key, "Layr", 4);
                if (layers && *size >= 2) {
                    if (const auto count = s.be<qint16>())
                        mergedAlpha = *count < 0;
                    break;
                }
                if (!s.skip(*size))
                    break;
            }
        }
    }
    if (!s.finish())
        return std::nullopt;
    return mergedAlpha;
}

// How the channels land in the image: single-plane formats take a row as it is; the others
// hold four components per pixel (R, G, B, A as slots 0..3) that each channel fills.
struct Layout {
    QImage::Format format = QImage::Format_Invalid;
    int colourChannels = 0; // read before the alpha channel
    bool alpha = false;
    bool planar = false; // Mono, Indexed8, Grayscale8, Grayscale16
};

std::optional<Layout> layoutFor(const PsdHeader &h, bool mergedAlpha)
{
    const bool hasAlpha = mergedAlpha && h.channels > colourChannelsOf(h.colorMode);
    Layout l;
    l.colourChannels = colourChannelsOf(h.colorMode);
    switch (h.colorMode) {
    case bitmap:
        if (h.depth != 1)
            return std::nullopt;
        l.format = QImage::Format_Mono;
        l.planar = true;
        return l;
    case indexed:
        if (h.depth != 8)
            return std::nullopt;
        l.format = QImage::Format_Indexed8;
        l.planar = true;
        return l;
    case multichannel:
    case gray:
    case duotone:
        l.alpha = hasAlpha && h.colorMode != multichannel; // its channels are inks, not alpha
        if (h.depth == 8 || h.depth == 16) {
            l.planar = !l.alpha;
            if (l.alpha)
                l.format = h.depth == 8 ? QImage::Format_ARGB32 : QImage::Format_RGBA64;
            else
                l.format = h.depth == 8 ? QImage::Format_Grayscale8 : QImage::Format_Grayscale16;
            return l;
        }
        if (h.depth == 32) {
            l.format = l.alpha ? QImage::Format_RGBA32FPx4 : QImage::Format_RGBX32FPx4;
            return l;
        }
        return std::nullopt;
    case rgb:
    case cmyk:
    case lab:
        l.alpha = hasAlpha;
        if (h.depth == 8)
            l.format = l.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
        else if (h.depth == 16)
            l.format = l.alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64;
        else if (h.depth == 32 && h.colorMode == rgb)
            l.format = l.alpha ? QImage::Format_RGBA32FPx4 : QImage::Format_RGBX32FPx4;
        else
            return std::nullopt;
        return l;
    }
    return std::nullopt;
}

// Decodes one PackBits row of `count` stored bytes into exactly `rowBytes` bytes. Stored bytes
// left over once the row is full are skipped; a row that needs more than it has, or would
// write past its end, is corrupt.
bool unpackBitsRow(Input &in, qint64 count, uchar *out, qint64 rowBytes)
{
    qint64 produced = 0;
    while (produced < rowBytes) {
        if (count < 1)
            return false;
        const int header = in.byte();
        if (header < 0)
            return false;
        --count;
        const auto n = qint8(quint8(header));
        if (n >= 0) {
            const qint64 run = qint64(n) + 1;
            if (run > count || run > rowBytes - produced || !in.read(out + produced, run))
                return false;
            count -= run;
            produced += run;
        } else if (n != -128) {
            const qint64 run = 1 - qint64(n);
            const int value = count >= 1 ? in.byte() : -1;
            if (value < 0 || run > rowBytes - produced)
                return false;
            --count;
            std::memset(out + produced, value, size_t(run));
            produced += run;
        }
    }
    return in.skip(count);
}

// ARGB32 keeps a pixel in one native-endian word.
constexpr int argbShift[4] = {16, 8, 0, 24};

float floatSample(const uchar *p)
{
    const quint32 bits = qFromBigEndian<quint32>(p);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return std::isfinite(v) ? v : 0.0f; // later conversions must not meet NaN or infinity
}

// Writes one row of a channel's big-endian samples into slots [first, first + count) of every
// pixel of a four-component line.
void storeRow(const uchar *src, uchar *line, int width, QImage::Format format, int first, int count)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: {
        auto *px = reinterpret_cast<QRgb *>(line);
        quint32 mask = 0;
        for (int s = first; s < first + count; ++s)
            mask |= 0xffu << argbShift[s];
        for (int x = 0; x < width; ++x) {
            const quint32 v = src[x] * 0x01010101u;
            px[x] = (px[x] & ~mask) | (v & mask);
        }
        return;
    }
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64: {
        auto *px = reinterpret_cast<quint16 *>(line);
        for (int x = 0; x < width; ++x) {
            const quint16 v = qFromBigEndian<quint16>(src + 2 * x);
            std::fill_n(px + 4 * x + first, count, v);
        }
        return;
    }
    default: { // the float formats
        auto *px = reinterpret_cast<float *>(line);
        for (int x = 0; x < width; ++x)
            std::fill_n(px + 4 * x + first, count, floatSample(src + 4 * x));
        return;
    }
    }
}

void storePlanarRow(const uchar *src, uchar *line, int width, qint64 rowBytes,
                    QImage::Format format)
{
    if (format == QImage::Format_Grayscale16) {
        auto *px = reinterpret_cast<quint16 *>(line);
        for (int x = 0; x < width; ++x)
            px[x] = qFromBigEndian<quint16>(src + 2 * x);
    } else {
        std::memcpy(line, src, size_t(rowBytes));
    }
}

// The slots 0..3 hold C', M', Y', K' as stored; they become R, G, B and an opaque alpha.
void cmykToRgb(QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32) {
            auto *px = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const quint32 k = qAlpha(px[x]);
                const auto ink = [k](quint32 c) { return int((c * k + 127) / 255); };
                px[x] = qRgb(ink(qRed(px[x])), ink(qGreen(px[x])), ink(qBlue(px[x])));
            }
        } else {
            auto *px = reinterpret_cast<quint16 *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x, px += 4) {
                const quint64 k = px[3];
                for (int c = 0; c < 3; ++c)
                    px[c] = quint16((px[c] * k + 32767) / 65535);
                px[3] = 0xffff;
            }
        }
    }
}

float srgbEncode(float linear)
{
    const float v =
        linear <= 0.0031308f ? 12.92f * linear : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
    return std::clamp(v, 0.0f, 1.0f);
}

// CIE Lab (D50, as Photoshop stores it) to sRGB components in 0..1.
void labToSrgb(float l, float a, float b, float out[3])
{
    const auto finv = [](float t) {
        constexpr float d = 6.0f / 29.0f;
        return t > d ? t * t * t : 3.0f * d * d * (t - 4.0f / 29.0f);
    };
    const float fy = (l + 16.0f) / 116.0f;
    const float x = 0.96422f * finv(fy + a / 500.0f);
    const float y = finv(fy);
    const float z = 0.82521f * finv(fy - b / 200.0f);
    // XYZ (D50) to linear sRGB, Bradford-adapted to D65.
    out[0] = srgbEncode(3.1338561f * x - 1.6168667f * y - 0.4906146f * z);
    out[1] = srgbEncode(-0.9787684f * x + 1.9161415f * y + 0.0334540f * z);
    out[2] = srgbEncode(0.0719453f * x - 0.2289914f * y + 1.4052427f * z);
}

// The slots 0..2 hold L, a, b as stored (L scaled to the full range, a and b offset by half).
void labToRgb(QImage &image)
{
    float rgb[3];
    for (int y = 0; y < image.height(); ++y) {
        if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32) {
            auto *px = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                labToSrgb(qRed(px[x]) * (100.0f / 255.0f), qGreen(px[x]) - 128.0f,
                          qBlue(px[x]) - 128.0f, rgb);
                px[x] =
                    qRgb(qRound(rgb[0] * 255.0f), qRound(rgb[1] * 255.0f), qRound(rgb[2] * 255.0f));
            }
        } else {
            auto *px = reinterpret_cast<quint16 *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x, px += 4) {
                labToSrgb(px[0] * (100.0f / 65535.0f), px[1] / 257.0f - 128.0f,
                          px[2] / 257.0f - 128.0f, rgb);
                for (int c = 0; c < 3; ++c)
                    px[c] = quint16(qRound(rgb[c] * 65535.0f));
                px[3] = 0xffff;
            }
        }
    }
}

QColorSpace colourSpaceFor(const PsdHeader &h, const QByteArray &icc)
{
    QColorSpace embedded;
    if (!icc.isEmpty() && (h.colorMode == rgb || h.colorMode == indexed))
        embedded = QColorSpace::fromIccProfile(icc);
    if (h.colorMode == lab)
        return QColorSpace(QColorSpace::SRgb);
    if (h.depth == 32) // Photoshop keeps 32-bit documents in linear light
        return (embedded.isValid() ? embedded : QColorSpace(QColorSpace::SRgb))
            .withTransferFunction(QColorSpace::TransferFunction::Linear);
    return embedded;
}

bool cancelled(const std::function<bool()> &isCancelled) { return isCancelled && isCancelled(); }

} // namespace

std::optional<PsdHeader> readPsdHeader(QIODevice &device)
{
    uchar bytes[headerSize];
    if (device.read(reinterpret_cast<char *>(bytes), headerSize) != headerSize)
        return std::nullopt;
    return parseHeader(bytes);
}

QString psdColorModelName(int colorMode)
{
    switch (colorMode) {
    case rgb:
    case indexed:
        return QStringLiteral("RGB");
    case gray:
    case bitmap:
    case duotone:
        return QStringLiteral("Gray");
    case cmyk:
        return QStringLiteral("CMYK");
    case lab:
        return QStringLiteral("Lab");
    default:
        return {};
    }
}

std::optional<QImage> readPsdComposite(QIODevice &device, const PsdLimits &limits,
                                       const std::function<bool()> &isCancelled)
{
    Input in(device);
    uchar headerBytes[headerSize];
    if (!in.read(headerBytes, headerSize))
        return std::nullopt;
    const auto header = parseHeader(headerBytes);
    if (!header)
        return std::nullopt;
    const qint64 width = header->width;
    const qint64 height = header->height;
    if (width * height > limits.maxPixels || !layoutFor(*header, false))
        return std::nullopt;

    const auto modeDataLength = in.be<quint32>();
    if (!modeDataLength || !in.mayHave(*modeDataLength))
        return std::nullopt;
    QList<QRgb> palette;
    if (header->colorMode == indexed) {
        uchar rgbPlanes[768];
        if (*modeDataLength < 768 || !in.read(rgbPlanes, 768) || !in.skip(*modeDataLength - 768))
            return std::nullopt;
        for (int i = 0; i < 256; ++i)
            palette.append(qRgb(rgbPlanes[i], rgbPlanes[256 + i], rgbPlanes[512 + i]));
    } else if (!in.skip(*modeDataLength)) {
        return std::nullopt;
    }

    const auto resources = readResources(in);
    const auto mergedAlpha =
        resources ? readMergedAlphaFlag(in, header->isLargeDocument) : std::nullopt;
    const auto compression = mergedAlpha ? in.be<quint16>() : std::nullopt;
    if (!compression || *compression > 1) // ZIP (2, 3) never holds a composite in practice
        return std::nullopt;
    const auto layout = layoutFor(*header, *mergedAlpha);
    if (!layout)
        return std::nullopt;

    const int channels = layout->colourChannels + (layout->alpha ? 1 : 0);
    const int readChannels = layout->planar ? 1 : channels;
    const qint64 rowBytes = header->depth == 1 ? (width + 7) / 8 : width * (header->depth / 8);
    const qint64 imageBytes =
        (width * qint64(QImage::toPixelFormat(layout->format).bitsPerPixel()) + 31) / 32 * 4 *
        height;
    if (imageBytes > limits.maxBytes || readChannels * rowBytes * height > limits.maxBytes)
        return std::nullopt;

    // Every needed byte is known to be there before the image is allocated, where the device
    // can tell.
    std::vector<quint32> rowCounts;
    if (*compression == 0) {
        if (!in.mayHave(readChannels * rowBytes * height))
            return std::nullopt;
    } else {
        const int entrySize = header->isLargeDocument ? 4 : 2;
        const qint64 tableEntries = qint64(header->channels) * height;
        if (!in.mayHave(tableEntries * entrySize))
            return std::nullopt;
        rowCounts.resize(size_t(readChannels * height));
        qint64 total = 0;
        for (quint32 &count : rowCounts) {
            const auto v =
                entrySize == 4 ? in.be<quint32>() : std::optional<quint32>(in.be<quint16>());
            if (!v)
                return std::nullopt;
            count = *v;
            total += count;
            // A stored byte pair yields at most 128 bytes, so shorter rows cannot be whole;
            // refusing them here keeps a tiny file from claiming a huge image.
            if (count < 2 * ((rowBytes + 127) / 128))
                return std::nullopt;
        }
        if (!in.skip((tableEntries - qint64(rowCounts.size())) * entrySize) || !in.mayHave(total))
            return std::nullopt;
    }

    QImage image(header->width, header->height, layout->format);
    if (image.isNull())
        return std::nullopt;
    if (layout->planar) {
        if (layout->format == QImage::Format_Mono)
            image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        if (layout->format == QImage::Format_Indexed8) {
            if (resources->transparentIndex >= 0 && resources->transparentIndex < 256)
                palette[resources->transparentIndex] &= 0x00ffffff;
            image.setColorTable(palette);
        }
    } else {
        image.fill(Qt::black); // the opaque alpha of the X formats and of colour-only files
    }

    std::vector<uchar> row(static_cast<size_t>(rowBytes));
    for (int c = 0; c < readChannels; ++c) {
        for (int y = 0; y < header->height; ++y) {
            if (y % rowsPerCancelCheck == 0 && cancelled(isCancelled))
                return std::nullopt;
            const bool ok = *compression == 0 ? in.read(row.data(), rowBytes)
                                              : unpackBitsRow(in, rowCounts[size_t(c * height + y)],
                                                              row.data(), rowBytes);
            if (!ok)
                return std::nullopt;
            if (layout->planar) {
                storePlanarRow(row.data(), image.scanLine(y), header->width, rowBytes,
                               layout->format);
            } else {
                const bool isAlpha = c == layout->colourChannels;
                const bool grayish = layout->colourChannels == 1;
                storeRow(row.data(), image.scanLine(y), header->width, layout->format,
                         isAlpha ? 3 : c, !isAlpha && grayish ? 3 : 1);
            }
        }
        if (c == layout->colourChannels - 1 && header->colorMode == cmyk)
            cmykToRgb(image);
        if (c == layout->colourChannels - 1 && header->colorMode == lab)
            labToRgb(image);
    }
    if (const QColorSpace cs = colourSpaceFor(*header, resources->icc); cs.isValid())
        image.setColorSpace(cs);
    return image;
}

} // namespace orva
