#include "core/histogram/Histogram.h"

#include "core/services/ImageService.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>

namespace orva {

namespace {

bool hasMoreThan8BitsPerChannel(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Grayscale16:
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied:
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<HistogramData> histogramOf(const QImage &image)
{
    if (image.isNull() || image.width() < 1 || image.height() < 1)
        return std::nullopt;
    // Colour conversion happens before the reduction to 8 bits, or deep shadows of 16-bit
    // and float images would band; the working copy keeps alpha unpremultiplied for it.
    const bool deep = hasMoreThan8BitsPerChannel(image.format());
    QImage work = image.convertToFormat(deep ? QImage::Format_RGBA64 : QImage::Format_ARGB32);
    if (work.isNull())
        return std::nullopt;
    const QColorSpace srgb(QColorSpace::SRgb);
    if (work.colorSpace().isValid() && work.colorSpace() != srgb)
        work.convertToColorSpace(srgb);
    // Premultiplied 8-bit values are the pixel composited over black.
    work = work.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (work.isNull())
        return std::nullopt;

    HistogramData data;
    for (int y = 0; y < work.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(work.constScanLine(y));
        for (int x = 0; x < work.width(); ++x) {
            const QRgb p = line[x];
            ++data.red[size_t(qRed(p))];
            ++data.green[size_t(qGreen(p))];
            ++data.blue[size_t(qBlue(p))];
        }
    }
    return data;
}

std::optional<HistogramData> computeHistogram(const ImageService &images, const QUrl &url)
{
    const std::optional<QImage> thumbnail =
        images.makeThumbnail(url, histogramThumbnailSize, histogramEmbeddedMinimum);
    if (!thumbnail)
        return std::nullopt;
    return histogramOf(*thumbnail);
}

QPainterPath histogramCurve(const HistogramCounts &counts, QSizeF size)
{
    std::array<double, 256> v{};
    double top = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        v[i] = counts[i] >= 1 ? std::log(double(counts[i]) + 1.0) : 0.0;
        top = std::max(top, v[i]);
    }
    QPainterPath path;
    if (!(top > 0))
        return path;
    const double w = size.width();
    const double h = size.height();
    path.moveTo(0, h);
    for (size_t i = 0; i < v.size(); ++i)
        path.lineTo(w * double(i) / 255.0, h - h * v[i] / top);
    path.lineTo(w, h);
    path.closeSubpath();
    return path;
}

HistogramLoader::HistogramLoader(const ImageService &images, TaskRuntime &tasks, QObject *parent)
    : QObject(parent), images_(images), tasks_(tasks)
{
}

HistogramLoader::~HistogramLoader() { task_.cancel(); }

void HistogramLoader::setUrl(const std::optional<QUrl> &url)
{
    if (url == url_)
        return;
    url_ = url;
    start();
}

void HistogramLoader::start()
{
    // The previous file's count is of no use any more; a result it still delivers is
    // recognised by its generation and dropped.
    task_.cancel();
    task_ = {};
    const int generation = ++generation_;
    data_.reset();
    status_ = url_ ? Status::computing : Status::idle;
    if (url_) {
        const ImageService *images = &images_;
        task_ = tasks_.run(TaskPriority::utility, [images, url = *url_](const CancellationToken &) {
            return computeHistogram(*images, url);
        });
        task_.then(this, [this, generation](const std::optional<HistogramData> &result) {
            if (generation != generation_)
                return;
            data_ = result;
            status_ = result ? Status::ready : Status::failed;
            emit changed();
        });
    }
    emit changed();
}

} // namespace orva
