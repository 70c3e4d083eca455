#include "core/histogram/Histogram.h"

#include "core/services/ImageService.h"
#include "core/view/DisplayPixels.h"

#include <algorithm>
#include <cmath>

namespace orva {

std::optional<HistogramData> histogramOf(const QImage &image)
{
    if (image.isNull() || image.width() < 1 || image.height() < 1)
        return std::nullopt;
    // Counted as drawn: sRGB converted while still deep, then 8 bits; premultiplied
    // values are the pixel composited over black.
    QImage work = toDisplayPixels(image).convertToFormat(QImage::Format_ARGB32_Premultiplied);
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
