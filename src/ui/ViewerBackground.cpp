#include "ui/ViewerBackground.h"

#include <QPainterPath>

namespace orva::viewer {

namespace {

QColor grey(double whiteLevel) { return QColor::fromRgbF(whiteLevel, whiteLevel, whiteLevel); }

// Dark squares from the top-left corner on a light ground; a strip narrower than a tile
// along the right and bottom edges stays light.
void paintCheckerboard(QPainter &painter, const QRect &area, int tile)
{
    painter.fillRect(area, grey(0.96));
    const int rows = area.height() / tile, columns = area.width() / tile;
    QPainterPath dark;
    for (int r = 0; r < rows; ++r)
        for (int c = r % 2; c < columns; c += 2)
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

} // namespace orva::viewer
