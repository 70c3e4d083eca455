#include "core/view/Navigator.h"

#include "core/state/AppState.h"

#include <algorithm>
#include <cmath>

namespace orva::navigator {

QSizeF mapSize(QSizeF imageSize, double longest)
{
    const double w = imageSize.width();
    const double h = imageSize.height();
    if (!(w > 0) || !(h > 0) || !std::isfinite(w) || !std::isfinite(h) || !(longest > 0))
        return QSizeF();
    const double aspect = w / h;
    if (aspect >= 1)
        return QSizeF(longest, std::max(longest / aspect, 1.0));
    return QSizeF(std::max(aspect * longest, 1.0), longest);
}

QRectF visibleFrame(QSizeF size, QRectF visibleRect)
{
    const double w = size.width();
    const double h = size.height();
    const double fw = w * std::min(visibleRect.width(), 1.0);
    const double fh = h * std::min(visibleRect.height(), 1.0);
    const QPointF centre(w * (visibleRect.x() + visibleRect.width() / 2),
                         h * (1 - (visibleRect.y() + visibleRect.height() / 2)));
    return QRectF(centre.x() - fw / 2, centre.y() - fh / 2, fw, fh);
}

QPointF scrollTargetAt(QPointF position, QSizeF size)
{
    if (!(size.width() > 0) || !(size.height() > 0))
        return QPointF(0.5, 0.5);
    return QPointF(std::clamp(position.x() / size.width(), 0.0, 1.0),
                   std::clamp(1 - position.y() / size.height(), 0.0, 1.0));
}

bool isShown(bool hasImage, QRectF visibleRect, bool dragging)
{
    if (!hasImage)
        return false;
    return visibleRect.width() < wholeImageFraction || visibleRect.height() < wholeImageFraction ||
           dragging;
}

double bottomInset(bool thumbnailStripShown)
{
    return cornerInset + (thumbnailStripShown ? thumbnailStripClearance : 0);
}

QRectF placement(QRectF area, QSizeF size, double bottom)
{
    return QRectF(area.right() - cornerInset - size.width(), area.bottom() - bottom - size.height(),
                  size.width(), size.height());
}

bool isShownFor(const AppState &state)
{
    return isShown(state.currentURL() && state.currentImage() && !state.loadFailed(),
                   state.visibleRect(), state.isNavigatorDragging());
}

double bottomInsetFor(const AppState &state)
{
    return bottomInset(state.showThumbnailBar() && state.imageFiles().size() > 1);
}

} // namespace orva::navigator
