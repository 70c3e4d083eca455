#include "imageio/ApngReader.h"

#include <QByteArrayView>
#include <QColorSpace>
#include <QIODevice>
#include <QRect>

#include <libdeflate.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace orva {

namespace {

constexpr char pngSignature[] = "\x89PNG\r\n\x1a\n";
constexpr qsizetype signatureSize = 8;
constexpr quint32 maxChunkLength = 0x7fffffff; // PNG's own bound on lengths and sizes

constexpr quint32 tag(const char (&name)[5])
{
    return quint32(uchar(name[0])) << 24 | quint32(uchar(name[1])) << 16 |
           quint32(uchar(name[2])) << 8 | quint32(uchar(name[3]));
}

constexpr quint32 IHDR = tag("IHDR"), PLTE = tag("PLTE"), IDAT = tag("IDAT"), IEND = tag("IEND"),
                  acTL = tag("acTL"), fcTL = tag("fcTL"), fdAT = tag("fdAT");

// Ancillary chunks before IDAT that change how pixels decode; every frame needs them.
bool affectsDecoding(quint32 type)
{
    static constexpr quint32 types[] = {PLTE,        tag("tRNS"), tag("gAMA"), tag("cHRM"),
                                        tag("sRGB"), tag("iCCP"), tag("sBIT")};
    return std::find(std::begin(types), std::end(types), type) != std::end(types);
}

// An unknown chunk whose first letter is upper case cannot be skipped safely.
bool isCritical(quint32 type) { return !(type & 0x20000000); }

quint32 be32(const char *p)
{
    return quint32(uchar(p[0])) << 24 | quint32(uchar(p[1])) << 16 | quint32(uchar(p[2])) << 8 |
           quint32(uchar(p[3]));
}

quint16 be16(const char *p) { return quint16(uchar(p[0]) << 8 | uchar(p[1])); }

void appendBe32(QByteArray &out, quint32 v)
{
    const char bytes[] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    out.append(bytes, 4);
}

quint32 crcOf(QByteArrayView bytes, quint32 crc = 0)
{
    return libdeflate_crc32(crc, bytes.data(), size_t(bytes.size()));
}

bool hasSignature(QByteArrayView bytes)
{
    return bytes.size() >= signatureSize && std::memcmp(bytes.data(), pngSignature, 8) == 0;
}

bool isValidType(const char *p)
{
    return std::all_of(p, p + 4,
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// Walks chunk headers up to the first IDAT through `readAt(offset, size)`, so a device
// never has to be read beyond the headers.
bool hasAnimationControl(const std::function<QByteArray(qint64, qint64)> &readAt)
{
    if (!hasSignature(readAt(0, signatureSize)))
        return false;
    // acTL sits near the start; a head full of tiny chunks is not worth walking to the end.
    constexpr int maxChunks = 1024;
    qint64 pos = signatureSize;
    for (int i = 0; i < maxChunks; ++i) {
        const QByteArray header = readAt(pos, 8);
        if (header.size() < 8 || !isValidType(header.constData() + 4))
            return false;
        const quint32 length = be32(header.constData());
        const quint32 type = be32(header.constData() + 4);
        if (length > maxChunkLength || type == IDAT || type == IEND)
            return false;
        if (type == acTL) {
            if (length != 8)
                return false;
            const QByteArray body = readAt(pos + 8, 12);
            return body.size() == 12 &&
                   crcOf(body.first(8), crcOf(header.sliced(4))) == be32(body.constData() + 8) &&
                   be32(body.constData()) >= 2;
        }
        pos += 12 + qint64(length);
    }
    return false;
}

enum DisposeOp : quint8 { disposeNone = 0, disposeBackground = 1, disposePrevious = 2 };
enum BlendOp : quint8 { blendSource = 0, blendOver = 1 };

struct FrameRecord {
    QRect rect;
    quint16 delayNum = 0;
    quint16 delayDen = 0;
    quint8 dispose = disposeNone;
    quint8 blend = blendSource;
    std::vector<QByteArrayView> data; // IDAT or fdAT payloads, in order
};

// Parses a 26-byte fcTL; absent when it breaks the canvas or uses unknown operations.
std::optional<FrameRecord> parseFrameControl(QByteArrayView d, QSize canvas)
{
    const quint32 width = be32(d.data() + 4), height = be32(d.data() + 8);
    const quint32 x = be32(d.data() + 12), y = be32(d.data() + 16);
    FrameRecord frame;
    frame.delayNum = be16(d.data() + 20);
    frame.delayDen = be16(d.data() + 22);
    frame.dispose = quint8(d[24]);
    frame.blend = quint8(d[25]);
    // 64-bit sums: offsets near 2^32 must not wrap back inside the canvas.
    if (width == 0 || height == 0 || qint64(x) + width > canvas.width() ||
        qint64(y) + height > canvas.height() || frame.dispose > disposePrevious ||
        frame.blend > blendOver)
        return std::nullopt;
    frame.rect = QRect(int(x), int(y), int(width), int(height));
    return frame;
}

int delayMs(quint16 num, quint16 den)
{
    const qint64 divisor = den == 0 ? 100 : den; // a zero denominator means hundredths
    const qint64 ms = (qint64(num) * 1000 + divisor / 2) / divisor;
    return ms == 0 ? 100 : int(ms);
}

// Wraps one frame's data as a standalone PNG sharing the file's header and decoding
// chunks, and lets Qt decode it.
QImage decodeFrame(QByteArrayView ihdr, const QByteArray &decodingChunks, const FrameRecord &frame)
{
    qint64 dataSize = 0;
    for (QByteArrayView piece : frame.data)
        dataSize += piece.size();
    if (dataSize > maxChunkLength)
        return {};

    QByteArray png;
    png.reserve(signatureSize + 25 + decodingChunks.size() + 12 + dataSize + 12);
    png.append(pngSignature, signatureSize);

    QByteArray header = QByteArrayView("IHDR").toByteArray() + ihdr.toByteArray();
    const char size[] = {char(frame.rect.width() >> 24),  char(frame.rect.width() >> 16),
                         char(frame.rect.width() >> 8),   char(frame.rect.width()),
                         char(frame.rect.height() >> 24), char(frame.rect.height() >> 16),
                         char(frame.rect.height() >> 8),  char(frame.rect.height())};
    header.replace(4, 8, size, 8);
    appendBe32(png, 13);
    png.append(header);
    appendBe32(png, crcOf(header));

    png.append(decodingChunks);

    appendBe32(png, quint32(dataSize));
    png.append("IDAT", 4);
    quint32 crc = crcOf("IDAT");
    for (QByteArrayView piece : frame.data) {
        png.append(piece);
        crc = crcOf(piece, crc);
    }
    appendBe32(png, quint32(crc));

    appendBe32(png, 0);
    png.append("IEND", 4);
    appendBe32(png, crcOf("IEND"));

    QImage image;
    image.loadFromData(png, "PNG");
    return image;
}

// Premultiplied "over" per channel, rounded as x * y / 255.
quint32 over(quint32 src, quint32 dst)
{
    const quint32 alpha = src >> 24;
    if (alpha == 255)
        return src;
    if (alpha == 0)
        return dst;
    const quint32 inverse = 255 - alpha;
    quint32 out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const quint32 t = ((dst >> shift) & 0xff) * inverse + 128;
        out |= (((src >> shift) & 0xff) + ((t + (t >> 8)) >> 8)) << shift;
    }
    return out;
}

// Both images are ARGB32_Premultiplied; `image` lies inside `canvas` at `at`.
void paint(QImage &canvas, const QImage &image, QPoint at, bool blend)
{
    for (int y = 0; y < image.height(); ++y) {
        const auto *src = reinterpret_cast<const quint32 *>(image.constScanLine(y));
        auto *dst = reinterpret_cast<quint32 *>(canvas.scanLine(at.y() + y)) + at.x();
        if (blend)
            std::transform(src, src + image.width(), dst, dst, over);
        else
            std::memcpy(dst, src, size_t(image.width()) * 4);
    }
}

void clear(QImage &canvas, const QRect &rect)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        auto *row = reinterpret_cast<quint32 *>(canvas.scanLine(y)) + rect.x();
        std::fill(row, row + rect.width(), 0u);
    }
}

} // namespace

bool isAnimatedPng(const QByteArray &head)
{
    return hasAnimationControl([&](qint64 offset, qint64 size) { return head.mid(offset, size); });
}

bool isAnimatedPng(QIODevice &device)
{
    if (!device.isReadable())
        return false;
    if (device.isSequential())
        return isAnimatedPng(device.peek(64 * 1024));
    const qint64 start = device.pos();
    const bool animated = hasAnimationControl([&](qint64 offset, qint64 size) {
        return device.seek(start + offset) ? device.read(size) : QByteArray();
    });
    device.seek(start);
    return animated;
}

std::optional<ApngAnimation> readApng(const QByteArray &file, const ApngLimits &limits,
                                      const std::function<bool()> &isCancelled)
{
    const QByteArrayView bytes(file);
    if (!hasSignature(bytes))
        return std::nullopt;

    // First pass: validate the whole chunk stream and index each frame's data, so nothing
    // is decoded for a file that turns out broken.
    qsizetype pos = signatureSize;
    const auto ihdrChunk = readPngChunk(bytes, pos);
    if (!ihdrChunk || ihdrChunk->type != IHDR || ihdrChunk->data.size() != 13)
        return std::nullopt;
    const QByteArrayView ihdr = ihdrChunk->data;
    const quint32 width = be32(ihdr.data()), height = be32(ihdr.data() + 4);
    if (width == 0 || height == 0 || width > maxChunkLength || height > maxChunkLength ||
        qint64(width) * height > limits.maxCanvasPixels)
        return std::nullopt;
    const QSize canvasSize{int(width), int(height)};
    const qint64 canvasPixels = qint64(width) * height;

    QByteArray decodingChunks;
    std::vector<FrameRecord> frames;
    quint32 frameCount = 0, plays = 0;
    quint32 nextSequence = 0;
    size_t framesBeforeIdat = 0;
    bool hasControl = false, seenIdat = false, seenFdat = false;
    quint32 previousType = IHDR;
    for (bool ended = false; !ended;) {
        const auto chunk = readPngChunk(bytes, pos);
        if (!chunk)
            return std::nullopt;
        const QByteArrayView d = chunk->data;
        switch (chunk->type) {
        case acTL:
            if (hasControl || seenIdat || d.size() != 8)
                return std::nullopt;
            hasControl = true;
            frameCount = be32(d.data());
            plays = be32(d.data() + 4);
            // The limits are checked here, before any frame is indexed or decoded.
            if (frameCount == 0 || frameCount > quint32(std::max(limits.maxFrames, 0)) ||
                canvasPixels > limits.maxTotalBytes / 4 / qint64(frameCount))
                return std::nullopt;
            frames.reserve(frameCount);
            break;
        case fcTL: {
            if (!hasControl || d.size() != 26 || be32(d.data()) != nextSequence++ ||
                frames.size() == frameCount || (!frames.empty() && frames.back().data.empty()))
                return std::nullopt;
            auto frame = parseFrameControl(d, canvasSize);
            // A default image that is also frame 0 must cover the canvas.
            if (!frame || (!seenIdat && frame->rect != QRect(QPoint(), canvasSize)))
                return std::nullopt;
            frames.push_back(std::move(*frame));
            break;
        }
        case IDAT:
            if (!hasControl)
                return std::nullopt; // a plain PNG: Qt decodes it without help
            if (seenFdat || (seenIdat && previousType != IDAT))
                return std::nullopt;
            if (!seenIdat)
                framesBeforeIdat = frames.size();
            seenIdat = true;
            if (framesBeforeIdat == 1)
                frames.front().data.push_back(d);
            break;
        case fdAT:
            if (!seenIdat || frames.size() <= framesBeforeIdat || d.size() < 4 ||
                be32(d.data()) != nextSequence++)
                return std::nullopt;
            seenFdat = true;
            frames.back().data.push_back(d.sliced(4));
            break;
        case IEND:
            ended = true;
            break;
        case IHDR:
            return std::nullopt;
        default:
            if (affectsDecoding(chunk->type)) {
                if (!seenIdat)
                    decodingChunks.append(chunk->raw);
            } else if (isCritical(chunk->type)) {
                return std::nullopt;
            }
        }
        previousType = chunk->type;
    }
    if (!seenIdat || frames.size() != frameCount || frames.back().data.empty())
        return std::nullopt;

    // Second pass: decode and composite.
    ApngAnimation animation;
    animation.canvas = canvasSize;
    animation.loopCount = plays == 0 ? -1 : int(std::min<quint32>(plays - 1, INT_MAX));
    QImage canvas(canvasSize, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return std::nullopt;
    canvas.fill(Qt::transparent);
    animation.frames.reserve(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        if (isCancelled && isCancelled())
            return std::nullopt;
        const FrameRecord &frame = frames[i];
        QImage image = decodeFrame(ihdr, decodingChunks, frame);
        if (image.isNull() || image.size() != frame.rect.size())
            return std::nullopt;
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
        if (i == 0)
            canvas.setColorSpace(image.colorSpace());

        // There is nothing before the first frame to restore, so it is cleared instead.
        const quint8 dispose =
            i == 0 && frame.dispose == disposePrevious ? quint8(disposeBackground) : frame.dispose;
        const QImage saved = dispose == disposePrevious ? canvas.copy(frame.rect) : QImage();
        paint(canvas, image, frame.rect.topLeft(), frame.blend == blendOver);
        // The frame shares the canvas; the next write detaches it.
        animation.frames.push_back({canvas, delayMs(frame.delayNum, frame.delayDen)});
        if (dispose == disposeBackground)
            clear(canvas, frame.rect);
        else if (dispose == disposePrevious)
            paint(canvas, saved, frame.rect.topLeft(), false);
    }
    return animation;
}

std::optional<PngChunkView> readPngChunk(QByteArrayView bytes, qsizetype &pos)
{
    if (pos < 0 || bytes.size() - pos < 12)
        return std::nullopt;
    const quint32 length = be32(bytes.data() + pos);
    if (length > maxChunkLength || qint64(length) > bytes.size() - pos - 12 ||
        !isValidType(bytes.data() + pos + 4))
        return std::nullopt;
    const QByteArrayView typeAndData = bytes.sliced(pos + 4, 4 + length);
    if (crcOf(typeAndData) != be32(bytes.data() + pos + 8 + length))
        return std::nullopt;
    PngChunkView chunk{be32(typeAndData.data()), typeAndData.sliced(4),
                       bytes.sliced(pos, 12 + length)};
    pos += 12 + length;
    return chunk;
}

} // namespace orva
