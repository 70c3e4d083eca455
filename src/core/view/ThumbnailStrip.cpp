#include "core/view/ThumbnailStrip.h"

#include "core/state/AppState.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace orva::strip {

bool isShownFor(const AppState &state)
{
    return state.showThumbnailBar() && !state.isSlideshowRunning() && state.currentURL() &&
           state.imageFiles().size() > 1;
}

double contentWidth(int count)
{
    if (count <= 0)
        return 2 * padding;
    return 2 * padding + count * cell + (count - 1) * spacing;
}

double cellLeft(int index) { return padding + index * (cell + spacing); }

int cellAt(double contentX, int count)
{
    const double x = contentX - padding;
    if (x < 0)
        return -1;
    const int index = int(x / (cell + spacing));
    if (index >= count || x - index * (cell + spacing) >= cell)
        return -1;
    return index;
}

double clampedOffset(double offset, int count, double viewWidth)
{
    const double most = std::max(0.0, contentWidth(count) - viewWidth);
    return std::clamp(offset, 0.0, most);
}

double centredOffset(int index, int count, double viewWidth)
{
    return clampedOffset(cellLeft(index) + cell / 2 - viewWidth / 2, count, viewWidth);
}

QList<int> requestOrder(double offset, double viewWidth, int count, int current)
{
    QList<int> order;
    if (count <= 0 || viewWidth <= 0)
        return order;
    const int first =
        std::max(0, int(std::floor((offset - padding) / (cell + spacing))) - requestMargin);
    const int last =
        std::min(count - 1, int(std::floor((offset + viewWidth - padding) / (cell + spacing))) +
                                requestMargin);
    for (int i = first; i <= last; ++i)
        order << i;
    const int anchor = current >= 0 ? current : first;
    std::stable_sort(order.begin(), order.end(), [anchor](int a, int b) {
        return std::abs(a - anchor) < std::abs(b - anchor);
    });
    return order;
}

} // namespace orva::strip

namespace orva::background {

CheckerGrid checkerGrid(QSizeF area, double tile)
{
    if (tile <= 0 || area.isEmpty())
        return {};
    return {int(area.height() / tile), int(area.width() / tile)};
}

namespace {

// One box pass of radius r along rows, the edges repeating their own colour.
void boxBlurRows(QImage &image, int r)
{
    const int w = image.width();
    std::vector<QRgb> line(static_cast<size_t>(w));
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        std::copy(row, row + w, line.begin());
        int sr = 0, sg = 0, sb = 0;
        auto at = [&](int x) { return line[size_t(std::clamp(x, 0, w - 1))]; };
        for (int x = -r; x <= r; ++x) {
            sr += qRed(at(x));
            sg += qGreen(at(x));
            sb += qBlue(at(x));
        }
        const int n = 2 * r + 1;
        for (int x = 0; x < w; ++x) {
            row[x] = qRgb(sr / n, sg / n, sb / n);
            const QRgb in = at(x + r + 1), out = at(x - r);
            sr += qRed(in) - qRed(out);
            sg += qGreen(in) - qGreen(out);
            sb += qBlue(in) - qBlue(out);
        }
    }
}

// The same along columns.
void boxBlurColumns(QImage &image, int r)
{
    const int h = image.height();
    std::vector<QRgb> line(static_cast<size_t>(h));
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < h; ++y)
            line[size_t(y)] = reinterpret_cast<const QRgb *>(image.constScanLine(y))[x];
        int sr = 0, sg = 0, sb = 0;
        auto at = [&](int y) { return line[size_t(std::clamp(y, 0, h - 1))]; };
        for (int y = -r; y <= r; ++y) {
            sr += qRed(at(y));
            sg += qGreen(at(y));
            sb += qBlue(at(y));
        }
        const int n = 2 * r + 1;
        for (int y = 0; y < h; ++y) {
            reinterpret_cast<QRgb *>(image.scanLine(y))[x] = qRgb(sr / n, sg / n, sb / n);
            const QRgb in = at(y + r + 1), out = at(y - r);
            sr += qRed(in) - qRed(out);
            sg += qGreen(in) - qGreen(out);
            sb += qBlue(in) - qBlue(out);
        }
    }
}

} // namespace

QImage blurredBackground(const QImage &thumbnail, QSize area)
{
    // Three box passes of radius r have the spread of a Gaussian of sigma sqrt(r(r+1))
    // pixels; the working size makes that the blur's radius in points.
    constexpr int r = 4;
    const double pointsPerPixel = blurRadius / std::sqrt(double(r * (r + 1)));
    const QSize small(std::max(1, int(std::ceil(area.width() / pointsPerPixel))),
                      std::max(1, int(std::ceil(area.height() / pointsPerPixel))));
    QImage work(small, QImage::Format_RGB32);
    work.fill(Qt::black);
    if (thumbnail.isNull() || area.isEmpty())
        return work;
    {
        // Opaque first: a transparent thumbnail is seen over black, never blurred into
        // see-through edges.
        QPainter p(&work);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSizeF fill =
            QSizeF(thumbnail.size()).scaled(QSizeF(small), Qt::KeepAspectRatioByExpanding);
        p.drawImage(QRectF(QPointF((small.width() - fill.width()) / 2,
                                   (small.height() - fill.height()) / 2),
                           fill),
                    thumbnail);
    }
    // Three box passes each way approximate a Gaussian.
    for (int pass = 0; pass < 3; ++pass)
        boxBlurRows(work, r);
    for (int pass = 0; pass < 3; ++pass)
        boxBlurColumns(work, r);

    QImage result(small, QImage::Format_RGB32);
    result.fill(Qt::black);
    QPainter p(&result);
    p.setOpacity(blurOpacity);
    p.drawImage(0, 0, work);
    return result;
}

} // namespace orva::background
