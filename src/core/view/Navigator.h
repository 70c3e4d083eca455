#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace orva {

class AppState;

// The geometry of the navigator mini-map, free of widgets. Fractions of the image
// (visible rectangle, scroll targets) have their origin at the image's bottom-left corner;
// positions on the map are in its own top-down coordinates.
namespace navigator {

inline constexpr double maxDimension = 150;           // points, the map's longer side
inline constexpr double cornerInset = 12;             // from the window's bottom-right corner
inline constexpr double thumbnailStripClearance = 60; // further up while the strip is shown
inline constexpr double wholeImageFraction = 0.99;    // at or above: no navigator
inline constexpr double cornerRadius = 4;
inline constexpr double shadowRadius = 4;
inline constexpr double dimming = 0.3;      // brightness taken off outside the frame
inline constexpr double outlineWidth = 1.5; // white, at outlineOpacity
inline constexpr double outlineOpacity = 0.8;

// The map keeps the image's aspect ratio with its longer side at `longest`; the shorter
// side never drops below one point (a 1:1000 strip stays visible). Empty for an image
// without a positive size.
QSizeF mapSize(QSizeF imageSize, double longest = maxDimension);

// The visible part of the image on a map of `size`, in the map's top-down coordinates.
QRectF visibleFrame(QSizeF size, QRectF visibleRect);

// The image point, as fractions from its bottom-left corner, that a press at `position`
// on the map asks to centre; clamped to the image, so a drag that leaves the map keeps
// pushing against its edge.
QPointF scrollTargetAt(QPointF position, QSizeF size);

// Shown only with an image, while less than 0.99 of it is visible on either axis, or as
// long as a drag on it goes on (it must not vanish under the pointer).
bool isShown(bool hasImage, QRectF visibleRect, bool dragging);

// The map's distance from the bottom edge of the window content.
double bottomInset(bool thumbnailStripShown);

// The rules above applied to a viewer state: an image is shown (a file whose decode
// failed has none), and the thumbnail strip takes the bottom when it is enabled and the
// folder has more than one image.
bool isShownFor(const AppState &state);
double bottomInsetFor(const AppState &state);

// Where a map of `size` sits in `area` (the image view's visible area): its bottom-right corner
// inset by cornerInset from the right and by `bottom` from the bottom.
QRectF placement(QRectF area, QSizeF size, double bottom);

} // namespace navigator
} // namespace orva
