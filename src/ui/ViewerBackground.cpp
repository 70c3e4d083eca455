#include "ui/ViewerBackground.h"

#include "core/runtime/TaskRuntime.h"
#include "core/thumbnails/ThumbnailCache.h"
#include "core/view/ThumbnailStrip.h"

#include <QPainterPath>

namespace orva::viewer {

namespace {

QColor grey(double whiteLevel) { return QColor::fromRgbF(whiteLevel, whiteLevel, whiteLevel); }

void paintCheckerboard(QPainter &painter, const QRect &area, int tile)
{
    painter.fillRect(area, grey(0.96));
    const background::CheckerGrid grid = background::checkerGrid(area.size(), tile);
    QPainterPath dark;
    for (int r = 0; r < grid.rows; ++r)
        for (int c = r % 2; c < grid.columns; c += 2)
            dark.addRect(area.left() + c * tile, area.top() + r * tile, tile, tile);
    painter.fillPath(dark, grey(0.82));
}

} // namespace

void paintBackground(QPainter &painter, const QRect &area, BackgroundStyle style)
{
    switch (style) {
    case BackgroundStyle::black:
    case BackgroundStyle::blurred:
        painter.fillRect(area, Qt::black);
        return;
    case BackgroundStyle::darkGray:
        painter.fillRect(area, grey(0.18));
        return;
    case BackgroundStyle::lightGray:
        painter.fillRect(area, grey(0.82));
        return;
    case BackgroundStyle::white:
        painter.fillRect(area, Qt::white);
        return;
    case BackgroundStyle::checkerboard:
        paintCheckerboard(painter, area, 10);
        return;
    }
}

BlurredBackground::BlurredBackground(ThumbnailCache &cache, TaskRuntime &tasks,
                                     Scheduler &scheduler, QObject *parent)
    : QObject(parent), cache_(cache), tasks_(tasks),
      fade_(scheduler, background::crossFadeMilliseconds / 1000.0, [this](double t) {
          if (t >= 1.0)
              old_ = QImage();
          emit changed();
      })
{
    // A rotation saved or the file replaced: its new thumbnail replaces the old one.
    connect(&cache_, &ThumbnailCache::thumbnailInvalidated, this, [this](const QUrl &url) {
        if (url_ && *url_ == url)
            request();
    });
}

void BlurredBackground::setSource(const std::optional<QUrl> &url, bool active)
{
    if (url == url_ && active == active_)
        return;
    url_ = url;
    active_ = active;
    request();
}

void BlurredBackground::request()
{
    const quint64 serial = ++requestSerial_; // a late answer for an earlier image is dropped
    if (!active_)
        return;
    if (!url_) {
        setThumbnail(QImage());
        return;
    }
    cache_.thumbnailForURL(*url_, this, [this, serial](const std::optional<QImage> &image) {
        if (serial == requestSerial_)
            setThumbnail(image.value_or(QImage()));
    });
}

void BlurredBackground::setThumbnail(const QImage &thumbnail)
{
    if (thumbnail.cacheKey() == thumbnail_.cacheKey() ||
        (thumbnail.isNull() && thumbnail_.isNull()))
        return;
    thumbnail_ = thumbnail;
    if (!thumbnail_.isNull()) {
        compose(); // fades in once made
        return;
    }
    ++composeSerial_; // nothing to show: what is shown fades out
    old_ = shown_;
    shown_ = QImage();
    shownFrom_ = 0;
    fade_.start();
}

void BlurredBackground::compose()
{
    if (thumbnail_.isNull() || size_.isEmpty())
        return; // made at the first paint, when the size is known
    const quint64 serial = ++composeSerial_;
    const QImage thumbnail = thumbnail_;
    const QSize size = size_;
    // Scaling up to the window costs more than a frame: it is done off the main thread.
    tasks_
        .run(TaskPriority::userInitiated,
             [thumbnail, size](const CancellationToken &) {
                 return background::blurredBackground(thumbnail, size)
                     .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
             })
        .then(this, [this, serial, from = thumbnail.cacheKey()](const std::optional<QImage> &r) {
            if (serial != composeSerial_ || !r)
                return; // another thumbnail or size came meanwhile
            if (from != shownFrom_) {
                old_ = shown_;
                fade_.start();
            }
            shown_ = *r;
            shownFrom_ = from;
            emit changed();
        });
}

void BlurredBackground::paint(QPainter &painter, const QRect &area)
{
    painter.fillRect(area, Qt::black);
    if (area.size() != size_) {
        size_ = area.size();
        compose(); // until it comes, the last picture is drawn stretched
    }
    painter.save();
    painter.setClipRect(area);
    const double t = fade_.value();
    if (!old_.isNull() && t < 1.0) {
        // Fades out when nothing replaces it; otherwise the new one fades in over it.
        painter.setOpacity(shown_.isNull() ? 1.0 - t : 1.0);
        painter.drawImage(area, old_);
    }
    if (!shown_.isNull()) {
        painter.setOpacity(t);
        painter.drawImage(area, shown_);
    }
    painter.restore();
}

} // namespace orva::viewer
