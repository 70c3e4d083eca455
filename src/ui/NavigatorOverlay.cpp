#include "ui/NavigatorOverlay.h"

#include "core/view/Navigator.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace orva {

namespace {

constexpr int shadowMargin = 2 * int(navigator::shadowRadius);
constexpr int imageLimit = 320; // pixels: sharp at the map's size on a 2x screen

// Lowers brightness by a fixed amount per channel (premultiplied, so scaled by alpha).
QImage dimmedCopy(const QImage &image, double amount)
{
    QImage out = image.copy();
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb c = line[x];
            const int d = int(std::lround(amount * qAlpha(c)));
            line[x] = qRgba(std::max(qRed(c) - d, 0), std::max(qGreen(c) - d, 0),
                            std::max(qBlue(c) - d, 0), qAlpha(c));
        }
    }
    return out;
}

// Three box-blur passes on the alpha channel approximate a Gaussian.
void blurAlpha(QImage &image, int radius)
{
    const int w = image.width();
    const int h = image.height();
    std::vector<int> a(size_t(w) * size_t(h)), tmp(a.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            a[size_t(y) * w + x] =
                qAlpha(reinterpret_cast<const QRgb *>(image.constScanLine(y))[x]);
    auto pass = [&](std::vector<int> &from, std::vector<int> &to, bool horizontal) {
        const int n = horizontal ? w : h;
        const int lines = horizontal ? h : w;
        for (int l = 0; l < lines; ++l) {
            for (int i = 0; i < n; ++i) {
                int sum = 0;
                for (int k = -radius; k <= radius; ++k) {
                    const int j = std::clamp(i + k, 0, n - 1);
                    sum += horizontal ? from[size_t(l) * w + j] : from[size_t(j) * w + l];
                }
                (horizontal ? to[size_t(l) * w + i] : to[size_t(i) * w + l]) =
                    sum / (2 * radius + 1);
            }
        }
    };
    for (int i = 0; i < 3; ++i) {
        pass(a, tmp, true);
        pass(tmp, a, false);
    }
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgba(0, 0, 0, a[size_t(y) * w + x]);
    }
}

} // namespace

NavigatorOverlay::NavigatorOverlay(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
    mapOrigin_ = QPointF(shadowMargin, shadowMargin);
}

void NavigatorOverlay::setImage(const std::shared_ptr<const DisplayImage> &preview)
{
    const void *source = preview.get();
    if (source == source_)
        return;
    source_ = source;
    image_ = QImage();
    dimmed_ = QImage();
    mapSize_ = QSizeF();
    if (preview && !preview->frames.empty() && !preview->frames.front().image.isNull()) {
        QImage small = preview->frames.front().image;
        // An animation's preview is its full-size frames: reduce once, not on every paint.
        if (std::max(small.width(), small.height()) > imageLimit)
            small =
                small.scaled(imageLimit, imageLimit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        image_ = small.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        dimmed_ = dimmedCopy(image_, navigator::dimming);
        mapSize_ = navigator::mapSize(preview->pointSize);
    }
    updateShadow();
    update();
}

void NavigatorOverlay::setVisibleRect(const QRectF &rect)
{
    if (rect == visibleRect_)
        return;
    visibleRect_ = rect;
    update();
}

void NavigatorOverlay::setMapRect(const QRectF &rect)
{
    const QRect outer =
        rect.adjusted(-shadowMargin, -shadowMargin, shadowMargin, shadowMargin).toAlignedRect();
    mapOrigin_ = rect.topLeft() - QPointF(outer.topLeft());
    if (outer != geometry())
        setGeometry(outer);
    update();
}

void NavigatorOverlay::updateShadow()
{
    shadow_ = QImage();
    if (mapSize_.isEmpty())
        return;
    const QSize size =
        (mapSize_ + QSizeF(2 * shadowMargin, 2 * shadowMargin)).toSize() + QSize(1, 1);
    shadow_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
    shadow_.fill(Qt::transparent);
    {
        QPainter p(&shadow_);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRoundedRect(QRectF(QPointF(shadowMargin, shadowMargin), mapSize_),
                          navigator::cornerRadius, navigator::cornerRadius);
    }
    blurAlpha(shadow_, int(navigator::shadowRadius / 2));
}

void NavigatorOverlay::paintEvent(QPaintEvent *)
{
    if (image_.isNull() || mapSize_.isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF map = mapRect();
    p.setOpacity(0.5);
    p.drawImage(map.topLeft() - QPointF(shadowMargin, shadowMargin), shadow_);
    p.setOpacity(1.0);

    // The dimmed copy, then the visible part at full brightness, composed first so that the
    // rounded corners can be cut with antialiasing by filling a path.
    const qreal dpr = devicePixelRatioF();
    QImage composed((mapSize_ * dpr).toSize().expandedTo(QSize(1, 1)),
                    QImage::Format_ARGB32_Premultiplied);
    composed.setDevicePixelRatio(dpr);
    const QRectF area(QPointF(), mapSize_);
    const QRectF frame = navigator::visibleFrame(mapSize_, visibleRect_);
    {
        QPainter c(&composed);
        c.setRenderHint(QPainter::SmoothPixmapTransform);
        c.setCompositionMode(QPainter::CompositionMode_Source);
        c.drawImage(area, dimmed_);
        const QRectF part = frame.intersected(area);
        if (!part.isEmpty()) {
            const double sx = image_.width() / mapSize_.width();
            const double sy = image_.height() / mapSize_.height();
            c.drawImage(
                part, image_,
                QRectF(part.x() * sx, part.y() * sy, part.width() * sx, part.height() * sy));
        }
    }
    QPainterPath rounded;
    rounded.addRoundedRect(map, navigator::cornerRadius, navigator::cornerRadius);
    QBrush brush(composed);
    brush.setTransform(QTransform::fromTranslate(map.x(), map.y()));
    p.fillPath(rounded, brush);

    p.setClipPath(rounded);
    QColor white(Qt::white);
    white.setAlphaF(float(navigator::outlineOpacity));
    QPen outline(white, navigator::outlineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    outline.setMiterLimit(10);
    p.setPen(outline);
    p.setBrush(Qt::NoBrush);
    p.drawRect(frame.translated(map.topLeft()));
}

void NavigatorOverlay::navigateTo(QPointF position)
{
    emit dragStateChanged(true);
    emit navigateRequested(navigator::scrollTargetAt(position - mapOrigin_, mapSize_));
}

void NavigatorOverlay::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !mapRect().contains(event->position())) {
        event->ignore();
        return;
    }
    dragging_ = true;
    navigateTo(event->position());
}

void NavigatorOverlay::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging_)
        navigateTo(event->position());
}

void NavigatorOverlay::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    emit dragStateChanged(false);
}

void NavigatorOverlay::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Hidden under the pointer (the image went away): the release will never come.
    if (dragging_) {
        dragging_ = false;
        emit dragStateChanged(false);
    }
}

} // namespace orva
