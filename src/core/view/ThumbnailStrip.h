#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>

namespace orva {
class AppState;
}

namespace orva::strip {

// The strip is shown when enabled, outside slideshows, with a file shown among others.
bool isShownFor(const AppState &state);

// Geometry of the thumbnail strip along the bottom of a viewer window, in points.
inline constexpr double height = 60;
inline constexpr double cell = 44;
inline constexpr double spacing = 4;
inline constexpr double padding = 8; // before the first cell and after the last
inline constexpr double cornerRadius = 3;
inline constexpr int scrollMilliseconds = 200;
// Cells beyond each edge of the view whose thumbnails are asked for too.
inline constexpr int requestMargin = 8;

double contentWidth(int count);
double cellLeft(int index);
// The cell under a horizontal position in content coordinates, or -1 (gaps, padding).
int cellAt(double contentX, int count);
// The scroll offset that centres `index`, kept within the content.
double centredOffset(int index, int count, double viewWidth);
double clampedOffset(double offset, int count, double viewWidth);
// Cells to ask thumbnails for: the visible ones and `requestMargin` on each side, nearest
// to `current` first.
QList<int> requestOrder(double offset, double viewWidth, int count, int current);

} // namespace orva::strip

namespace orva::background {

// Rows and columns of dark squares of a checkerboard of `tile` in `area`: only whole
// tiles, so a strip narrower than a tile at the right and bottom stays light.
struct CheckerGrid {
    int rows = 0;
    int columns = 0;
};
CheckerGrid checkerGrid(QSizeF area, double tile);

inline constexpr double blurRadius = 40;    // points
inline constexpr double blurOpacity = 0.55; // over black
inline constexpr int crossFadeMilliseconds = 300;

// The blurred background of `area` from a small thumbnail: scaled to fill (cropped),
// blurred as an opaque image (edges keep their colour, no dark fringe) and laid at
// `blurOpacity` over black. Works at a fraction of the area's size, so it costs little
// whatever the window; the result is meant to be drawn scaled up to `area`. A null
// thumbnail gives plain black.
QImage blurredBackground(const QImage &thumbnail, QSize area);

} // namespace orva::background
