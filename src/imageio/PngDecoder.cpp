#include "imageio/PngDecoder.h"

#include "core/runtime/TaskRuntime.h"
#include "imageio/ApngReader.h"
#include "imageio/DecodeLimits.h"

#include <QColorSpace>
#include <QFile>
#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <libdeflate.h>
#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace orva {

namespace {

struct ContextDeleter {
    void operator()(spng_ctx *c) const { spng_ctx_free(c); }
};

// Ancillary chunks libspng keeps in memory (text, profiles) are capped; a file claiming
// more is refused rather than buffered.
constexpr size_t maxChunkBytes = 64u << 20;
constexpr int stripRows = 32;

// Area-averaging reduction along one axis: for every source position, the output cell it
// falls in and the share of it that spills into the next cell.
struct Axis {
    std::vector<int> cell;
    std::vector<float> spill; // part of the source pixel in cell + 1
    explicit Axis(int from, int to) : cell(size_t(from)), spill(size_t(from))
    {
        const double step = double(to) / from; // output cells per source pixel
        for (int i = 0; i < from; ++i) {
            const double a = i * step, b = (i + 1) * step;
            const int c = std::min(int(a), to - 1);
            cell[size_t(i)] = c;
            spill[size_t(i)] = c + 1 < to && b > c + 1 ? float((b - (c + 1)) / step) : 0.f;
        }
    }
};

// Reduces rows of premultiplied RGBA as they arrive.
class RowReducer {
public:
    RowReducer(QSize from, QImage &out)
        : out_(out), x_(from.width(), out.width()), y_(from.height(), out.height()),
          row_(size_t(out.width()) * 4), acc_(size_t(out.width()) * 4 * 2),
          area_(float(double(from.width()) * from.height() / (double(out.width()) * out.height())))
    {
    }

    void add(int y, const uint8_t *rgba)
    {
        std::fill(row_.begin(), row_.end(), 0.f);
        const int w = int(x_.cell.size());
        for (int x = 0; x < w; ++x, rgba += 4) {
            const float s = x_.spill[size_t(x)], k = 1.f - s;
            float *d = &row_[size_t(x_.cell[size_t(x)]) * 4];
            for (int c = 0; c < 4; ++c)
                d[c] += k * rgba[c];
            if (s > 0)
                for (int c = 0; c < 4; ++c)
                    d[4 + c] += s * rgba[c];
        }
        const int cell = y_.cell[size_t(y)];
        if (cell != current_) {
            flush();
            current_ = cell;
        }
        const float s = y_.spill[size_t(y)], k = 1.f - s;
        const size_t n = row_.size();
        for (size_t i = 0; i < n; ++i) {
            acc_[i] += k * row_[i];
            acc_[n + i] += s * row_[i];
        }
    }

    void finish() { flush(); }

private:
    void flush()
    {
        if (current_ < 0)
            return;
        const size_t n = row_.size();
        auto *d = reinterpret_cast<QRgb *>(out_.scanLine(current_));
        const float inv = 1.f / area_;
        for (int x = 0; x < out_.width(); ++x) {
            const float *a = &acc_[size_t(x) * 4];
            auto v = [&](int c) { return std::clamp(int(a[c] * inv + 0.5f), 0, 255); };
            const int alpha = v(3);
            d[x] =
                qRgba(std::min(v(0), alpha), std::min(v(1), alpha), std::min(v(2), alpha), alpha);
        }
        // The next cell starts with what spilled into it.
        std::copy(acc_.begin() + qsizetype(n), acc_.end(), acc_.begin());
        std::fill(acc_.begin() + qsizetype(n), acc_.end(), 0.f);
    }

    QImage &out_;
    Axis x_, y_;
    std::vector<float> row_, acc_;
    float area_;
    int current_ = -1;
};

constexpr quint32 idat = 0x49444154, iend = 0x49454e44; // "IDAT", "IEND"

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor *d) const { libdeflate_free_decompressor(d); }
};

// An 8-bit truecolour PNG inflated in one go. zlib's inflate is most of the time of a
// large PNG (long matches over a few bytes are copied byte by byte); libdeflate takes less
// than half as long but needs the whole stream, so this costs the filtered image in memory
// and is used only when that fits. Rows are unfiltered in place, in order.
class InflatedPng {
public:
    static std::optional<InflatedPng> inflate(const uchar *file, qint64 size, QSize stored,
                                              int channels, qint64 reservedBytes)
    {
        InflatedPng png;
        png.channels_ = channels;
        png.width_ = size_t(stored.width());
        png.stride_ = 1 + png.width_ * size_t(channels);
        const qint64 rawBytes = qint64(png.stride_) * stored.height();
        // The compressed stream is gathered first: it is at most the file's size.
        if (!DecodeLimits::fitsWorkingMemory(reservedBytes + rawBytes + size))
            return std::nullopt;
        const QByteArrayView bytes(file, size);
        std::vector<uchar> stream;
        qsizetype pos = 8; // signature, checked by libspng already
        // A damaged chunk goes to libspng, which says what is wrong with it.
        for (bool ended = false; !ended;) {
            const auto chunk = readPngChunk(bytes, pos);
            if (!chunk)
                return std::nullopt;
            if (chunk->type == idat) {
                const auto *d = reinterpret_cast<const uchar *>(chunk->data.data());
                stream.insert(stream.end(), d, d + chunk->data.size());
            }
            ended = chunk->type == iend;
        }
        std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> d(
            libdeflate_alloc_decompressor());
        if (!d)
            return std::nullopt;
        png.raw_ = std::make_unique_for_overwrite<uchar[]>(size_t(rawBytes));
        size_t produced = 0;
        if (libdeflate_zlib_decompress(d.get(), stream.data(), stream.size(), png.raw_.get(),
                                       size_t(rawBytes), &produced) != LIBDEFLATE_SUCCESS ||
            produced != size_t(rawBytes))
            return std::nullopt;
        png.previous_.assign(png.stride_ - 1, 0);
        return png;
    }

    // Unfilters row y (rows come in order) and writes it as RGBA. False for an unknown
    // filter type.
    bool row(int y, uchar *rgba)
    {
        uchar *line = raw_.get() + size_t(y) * stride_;
        const uchar *prev = y > 0 ? line - stride_ + 1 : previous_.data();
        const bool ok = channels_ == 3 ? unfilter<3>(line[0], line + 1, prev)
                                       : unfilter<4>(line[0], line + 1, prev);
        if (!ok)
            return false;
        const uchar *p = line + 1;
        if (channels_ == 4) {
            std::memcpy(rgba, p, width_ * 4);
            return true;
        }
        for (size_t x = 0; x < width_; ++x, p += 3, rgba += 4) {
            rgba[0] = p[0];
            rgba[1] = p[1];
            rgba[2] = p[2];
            rgba[3] = 255;
        }
        return true;
    }

private:
    template <int bpp> bool unfilter(uchar type, uchar *cur, const uchar *prev) const
    {
        const size_t n = width_ * bpp;
        switch (type) {
        case 0:
            return true;
        case 1:
            for (size_t i = bpp; i < n; ++i)
                cur[i] = uchar(cur[i] + cur[i - bpp]);
            return true;
        case 2:
            for (size_t i = 0; i < n; ++i)
                cur[i] = uchar(cur[i] + prev[i]);
            return true;
        case 3:
            for (size_t i = 0; i < bpp; ++i)
                cur[i] = uchar(cur[i] + (prev[i] >> 1));
            for (size_t i = bpp; i < n; ++i)
                cur[i] = uchar(cur[i] + ((cur[i - bpp] + prev[i]) >> 1));
            return true;
        case 4:
            for (size_t i = 0; i < bpp; ++i)
                cur[i] = uchar(cur[i] + prev[i]);
            // Branch-free: the predictor's choice depends on the data and mispredicts badly.
            for (size_t i = bpp; i < n; ++i) {
                const int a = cur[i - bpp], b = prev[i], c = prev[i - bpp];
                const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
                const int bc = pb <= pc ? b : c;
                cur[i] = uchar(cur[i] + ((pa <= pb) & (pa <= pc) ? a : bc));
            }
            return true;
        default:
            return false;
        }
    }

    std::unique_ptr<uchar[]> raw_;
    std::vector<uchar> previous_;
    size_t width_ = 0, stride_ = 0;
    int channels_ = 0;
};

std::optional<QColorSpace> colourSpaceOf(spng_ctx *ctx)
{
    spng_iccp iccp{};
    if (spng_get_iccp(ctx, &iccp) == 0 && iccp.profile && iccp.profile_len > 0) {
        const QColorSpace cs = QColorSpace::fromIccProfile(
            QByteArray::fromRawData(iccp.profile, qsizetype(iccp.profile_len)));
        return cs.isValid() ? std::optional(cs) : std::nullopt;
    }
    uint8_t intent = 0;
    if (spng_get_srgb(ctx, &intent) == 0)
        return QColorSpace(QColorSpace::SRgb);
    uint32_t gamma = 0;
    spng_chrm_int chrm{};
    if (spng_get_gama_int(ctx, &gamma) == 0 || spng_get_chrm_int(ctx, &chrm) == 0)
        return std::nullopt; // Qt's reader turns these into a colour space
    return QColorSpace();
}

} // namespace

std::optional<QImage> readPngReduced(const QString &path, QSize target)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    const uchar *data = size > 0 ? file.map(0, size) : nullptr;
    if (!data)
        return std::nullopt;
    std::unique_ptr<spng_ctx, ContextDeleter> ctx(spng_ctx_new(0));
    if (!ctx)
        return std::nullopt;
    spng_ctx *c = ctx.get();
    const auto side = uint32_t(std::min<qint64>(DecodeLimits::maxSide, 0x7fffffff));
    spng_ihdr ihdr{};
    if (spng_set_image_limits(c, side, side) ||
        spng_set_chunk_limits(c, maxChunkBytes, maxChunkBytes) ||
        spng_set_png_buffer(c, data, size_t(size)) || spng_get_ihdr(c, &ihdr))
        return std::nullopt;
    const QSize stored(int(ihdr.width), int(ihdr.height));
    if (ihdr.bit_depth > 8 || ihdr.interlace_method != SPNG_INTERLACE_NONE ||
        qint64(stored.width()) * stored.height() > DecodeLimits::maxPixels)
        return std::nullopt;
    const std::optional<QColorSpace> colour = colourSpaceOf(c);
    if (!colour)
        return std::nullopt;
    target = target.boundedTo(stored);
    if (target.isEmpty())
        return std::nullopt;
    const qint64 outBytes = qint64(target.width()) * target.height() * 4;
    if (!DecodeLimits::fitsWorkingMemory(outBytes + qint64(stored.width()) * 4 * 3))
        return std::nullopt;
    spng_trns trns{};
    const bool alpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
                       spng_get_trns(c, &trns) == 0;
    QImage out(target, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (out.isNull())
        return std::nullopt;
    const size_t rowBytes = size_t(stored.width()) * 4;
    const qint64 reserved = outBytes + qint64(rowBytes) * stripRows * 2;
    std::optional<InflatedPng> whole;
    if (ihdr.bit_depth == 8 && (ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
                                (ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR && !alpha)))
        whole = InflatedPng::inflate(
            data, size, stored, ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR ? 3 : 4, reserved);
    // Anything else, and a file the fast path cannot take, streams through libspng.
    if (!whole && spng_decode_image(c, nullptr, 0, SPNG_FMT_RGBA8,
                                    SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE))
        return std::nullopt;
    auto readRow = [&](int y, uchar *rgba) {
        if (whole)
            return whole->row(y, rgba);
        const int r = spng_decode_row(c, rgba, rowBytes);
        return r == 0 || (r == SPNG_EOI && y + 1 == stored.height());
    };
    std::vector<uint8_t> strips[2]{std::vector<uint8_t>(rowBytes * stripRows),
                                   std::vector<uint8_t>(rowBytes * stripRows)};
    const bool same = target == stored;
    RowReducer reducer(stored, out);
    auto consume = [&](int y0, int rows, uint8_t *data) {
        for (int i = 0; i < rows; ++i) {
            uint8_t *row = data + size_t(i) * rowBytes;
            if (alpha) {
                for (size_t k = 0; k < rowBytes; k += 4) {
                    const unsigned a = row[k + 3];
                    for (size_t j = 0; j < 3; ++j)
                        row[k + j] = uint8_t((row[k + j] * a + 127) / 255);
                }
            }
            if (same) {
                auto *d = reinterpret_cast<QRgb *>(out.scanLine(y0 + i));
                for (int x = 0; x < stored.width(); ++x) {
                    const uint8_t *p = row + size_t(x) * 4;
                    d[x] = qRgba(p[0], p[1], p[2], alpha ? p[3] : 255);
                }
            } else {
                reducer.add(y0 + i, row);
            }
        }
    };
    // One strip is reduced on another core while the next one inflates.
    QFuture<void> pending;
    const struct Join {
        QFuture<void> &f;
        ~Join() { f.waitForFinished(); }
    } join{pending};
    const CancellationToken token = CancellationToken::current();
    for (int y0 = 0, k = 0; y0 < stored.height(); y0 += stripRows, ++k) {
        const int rows = std::min(stripRows, stored.height() - y0);
        uint8_t *data = strips[k % 2].data();
        for (int i = 0; i < rows; ++i)
            if (!readRow(y0 + i, data + size_t(i) * rowBytes))
                return std::nullopt;
        pending.waitForFinished();
        if (token.isCancelled())
            return std::nullopt;
        pending = QtConcurrent::run([&consume, y0, rows, data] { consume(y0, rows, data); });
    }
    pending.waitForFinished();
    if (!same)
        reducer.finish();
    out.setColorSpace(*colour);
    return out;
}

} // namespace orva
