#include "ui/ViewerBackground.h"

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

BlurredBackground::BlurredBackground(ThumbnailCache &cache, Scheduler &scheduler, QObject *parent)
    : QObject(parent), cache_(cache),
      fade_(scheduler, background::crossFadeMilliseconds / 1000.0, [this](double t) {
          if (t >= 1.0) {
              previous_ = QImage();
              old_ = QImage();
          }
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
    if (thumbnail.cacheKey() == thumbnail_.cacheKey() && !thumbnail.isNull())
        return;
    if (thumbnail.isNull() && thumbnail_.isNull())
        return;
    previous_ = thumbnail_;
    old_ = current_;
    oldKey_ = currentKey_;
    thumbnail_ = thumbnail;
    current_ = QImage();
    currentKey_ = 0;
    fade_.stop();
    fade_.start();
    emit changed();
}

const QImage &BlurredBackground::composite(const QImage &thumbnail, QSize size, QImage &cache,
                                           qint64 &key)
{
    // Made once per thumbnail and window size: painting is then a plain copy.
    if (cache.isNull() || key != thumbnail.cacheKey()) {
        cache = background::blurredBackground(thumbnail, size)
                    .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        key = thumbnail.cacheKey();
    }
    return cache;
}

void BlurredBackground::paint(QPainter &painter, const QRect &area)
{
    painter.fillRect(area, Qt::black);
    const bool resized = area.size() != size_;
    if (resized) {
        current_ = QImage();
        old_ = QImage();
    }
    size_ = area.size();
    painter.save();
    painter.setClipRect(area);
    const double t = fade_.value();
    if (!previous_.isNull() && t < 1.0) {
        // Fades out when nothing replaces it; otherwise the new one fades in over it.
        painter.setOpacity(thumbnail_.isNull() ? 1.0 - t : 1.0);
        painter.drawImage(area, composite(previous_, size_, old_, oldKey_));
    }
    if (!thumbnail_.isNull()) {
        painter.setOpacity(t);
        painter.drawImage(area, composite(thumbnail_, size_, current_, currentKey_));
    }
    painter.restore();
}

} // namespace orva::viewer
