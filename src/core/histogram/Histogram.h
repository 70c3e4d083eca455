#pragma once

#include "core/runtime/TaskRuntime.h"

#include <QImage>
#include <QObject>
#include <QPainterPath>
#include <QSizeF>
#include <QUrl>

#include <array>
#include <optional>

namespace orva {

class ImageService;

// Per-channel counts of 8-bit sRGB values: entry i is the number of pixels whose channel
// value is i.
using HistogramCounts = std::array<quint32, 256>;

struct HistogramData {
    HistogramCounts red{};
    HistogramCounts green{};
    HistogramCounts blue{};

    bool operator==(const HistogramData &) const = default;
};

// Longer side of the thumbnail that is counted: the work stays bounded whatever the file.
inline constexpr int histogramThumbnailSize = 512;
// A thumbnail embedded in the file is counted instead when it is at least this large (the
// usual 160 x 120 Exif thumbnail is): reading it skips decoding the photo at all.
inline constexpr int histogramEmbeddedMinimum = 160;

// Counts an image as it looks: converted to sRGB at its own depth, then reduced to 8 bits;
// translucent pixels are composited over black, the canvas they are drawn on. Absent for
// an empty image.
std::optional<HistogramData> histogramOf(const QImage &image);

// The counts of a file, taken from a bounded (possibly embedded) thumbnail, never from a
// full decode. Absent when the file cannot be read. Runs on a background task.
std::optional<HistogramData> computeHistogram(const ImageService &images, const QUrl &url);

// The outline of one channel's curve in an area of `size` (y pointing down): counts are
// scaled by ln(c + 1) against the channel's largest value, from the bottom-left corner
// through one point per bin to the bottom-right corner, closed. Empty when every count is
// zero, so that nothing is drawn for that channel.
QPainterPath histogramCurve(const HistogramCounts &counts, QSizeF size);

// The histogram of one file at a time, computed in the background. A result that arrives
// for a file that is no longer the asked one is dropped, so an earlier photo's counts are
// never shown under a later one.
class HistogramLoader : public QObject {
    Q_OBJECT

public:
    enum class Status { idle, computing, ready, failed };

    HistogramLoader(const ImageService &images, TaskRuntime &tasks, QObject *parent = nullptr);
    ~HistogramLoader() override;

    // Starts counting `url` when it differs from the current one; absent stops and clears.
    void setUrl(const std::optional<QUrl> &url);
    const std::optional<QUrl> &url() const { return url_; }
    Status status() const { return status_; }
    const std::optional<HistogramData> &data() const { return data_; }

signals:
    void changed();

private:
    void start();

    const ImageService &images_;
    TaskRuntime &tasks_;
    std::optional<QUrl> url_;
    std::optional<HistogramData> data_;
    Status status_ = Status::idle;
    int generation_ = 0;
    Task<HistogramData> task_;
};

} // namespace orva
