#include "ui/ThumbnailBar.h"

#include "core/state/AppState.h"
#include "core/thumbnails/ThumbnailCache.h"
#include "core/view/ThumbnailStrip.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace orva {

ThumbnailBar::ThumbnailBar(AppState &state, ThumbnailCache &cache, QWidget *parent)
    : QWidget(parent), state_(state), cache_(cache),
      scroll_(state.services().scheduler, strip::scrollMilliseconds / 1000.0,
              [this](double t) { setOffset(scrollFrom_ + (scrollTo_ - scrollFrom_) * t); })
{
    setFixedHeight(int(strip::height));
    connect(&state_, &AppState::currentURLChanged, this, &ThumbnailBar::currentChanged);
    // The current file took another place in the list (the listing arrived, the order
    // changed): it is brought back to the centre at once.
    connect(&state_, &AppState::currentIndexChanged, this, [this] {
        const int index = state_.currentIndex();
        const QList<QUrl> &files = state_.imageFiles();
        if (index < 0 || index >= files.size() || files[index] != state_.currentURL())
            return; // a move to another file: currentURLChanged scrolls
        scroll_.stop();
        setOffset(strip::centredOffset(index, int(files.size()), width()));
    });
    connect(&state_, &AppState::imageFilesChanged, this, [this] {
        setOffset(offset_); // keeps it within the new content
        update();
    });
    connect(&cache_, &ThumbnailCache::thumbnailStored, this, [this](const QUrl &url) {
        if (state_.imageFiles().contains(url))
            update();
    });
    connect(&cache_, &ThumbnailCache::thumbnailInvalidated, this, [this](const QUrl &url) {
        failed_.remove(url);
        update();
    });
}

QRectF ThumbnailBar::cellRect(int index) const
{
    return QRectF(strip::cellLeft(index) - offset_, (height() - strip::cell) / 2, strip::cell,
                  strip::cell);
}

void ThumbnailBar::setOffset(double offset)
{
    const double clamped = strip::clampedOffset(offset, int(state_.imageFiles().size()), width());
    if (clamped == offset_)
        return;
    offset_ = clamped;
    update();
}

void ThumbnailBar::currentChanged()
{
    const int index = state_.currentIndex();
    if (!state_.currentURL() || index < 0)
        return;
    const double target = strip::centredOffset(index, int(state_.imageFiles().size()), width());
    scroll_.stop();
    if (!isVisible()) {
        setOffset(target);
        return;
    }
    scrollFrom_ = offset_;
    scrollTo_ = target;
    scroll_.start();
}

void ThumbnailBar::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Shown again (or the first time): the current image is in view at once.
    if (state_.currentURL() && state_.currentIndex() >= 0)
        setOffset(
            strip::centredOffset(state_.currentIndex(), int(state_.imageFiles().size()), width()));
}

void ThumbnailBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (state_.currentURL() && state_.currentIndex() >= 0 && !isScrolling())
        setOffset(
            strip::centredOffset(state_.currentIndex(), int(state_.imageFiles().size()), width()));
}

void ThumbnailBar::requestVisible()
{
    // While scrolling, what will be in view when it stops: the cells passed on the way
    // are not worth a decode each.
    const double offset = isScrolling() ? scrollTo_ : offset_;
    const QList<QUrl> &files = state_.imageFiles();
    const QList<int> order =
        strip::requestOrder(offset, width(), int(files.size()), state_.currentIndex());
    QSet<QUrl> wanted;
    for (int i : order)
        wanted.insert(files[i]);
    // Cells that left the view lose their interest; the shared decode runs on.
    pending_.intersect(wanted);
    failed_.intersect(wanted);
    for (int i : order) {
        const QUrl &url = files[i];
        if (pending_.contains(url) || failed_.contains(url) || cache_.cached(url))
            continue;
        pending_.insert(url);
        cache_.thumbnailForURL(url, this, [this, url](const std::optional<QImage> &image) {
            if (!pending_.remove(url))
                return; // scrolled away meanwhile
            if (!image)
                failed_.insert(url);
            update();
        });
    }
}

void ThumbnailBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.8));
    const QList<QUrl> &files = state_.imageFiles();
    if (files.isEmpty())
        return;
    requestVisible();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const std::optional<QUrl> &current = state_.currentURL();
    const int first = std::max(0, int((offset_ - strip::padding) / (strip::cell + strip::spacing)));
    for (int i = first; i < files.size(); ++i) {
        const QRectF cell = cellRect(i);
        if (cell.left() > width())
            break;
        if (cell.right() < 0)
            continue;
        QPainterPath shape;
        shape.addRoundedRect(cell, strip::cornerRadius, strip::cornerRadius);
        painter.save();
        painter.setClipPath(shape);
        if (const std::optional<QImage> image = cache_.cached(files[i])) {
            // Fills the square, cropping what overflows.
            const QSizeF fill =
                QSizeF(image->size()).scaled(cell.size(), Qt::KeepAspectRatioByExpanding);
            painter.drawImage(
                QRectF(cell.center() - QPointF(fill.width() / 2, fill.height() / 2), fill), *image);
        } else {
            painter.fillRect(cell, QColor::fromRgbF(0.5, 0.5, 0.5, 0.3));
        }
        painter.restore();
        if (current && files[i] == *current) {
            painter.setPen(QPen(Qt::white, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(shape);
        }
    }
}

// Presses stay here: they must not reach the image view's click navigation.
void ThumbnailBar::mousePressEvent(QMouseEvent *event) { event->accept(); }

void ThumbnailBar::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int index =
        strip::cellAt(event->position().x() + offset_, int(state_.imageFiles().size()));
    if (index >= 0 && cellRect(index).contains(event->position()))
        state_.goToIndex(index);
}

void ThumbnailBar::wheelEvent(QWheelEvent *event)
{
    // Either wheel direction scrolls the strip sideways; it never zooms the image under it.
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    double delta = 0;
    if (!pixels.isNull())
        delta = std::abs(pixels.x()) > std::abs(pixels.y()) ? pixels.x() : pixels.y();
    else
        delta = (std::abs(angle.x()) > std::abs(angle.y()) ? angle.x() : angle.y()) / 120.0 *
                (strip::cell + strip::spacing);
    scroll_.stop();
    setOffset(offset_ - delta);
    event->accept();
}

} // namespace orva
