#pragma once

#include "core/model/DecodedImage.h"

#include <QImage>
#include <QWidget>

#include <memory>

namespace orva {

// The navigator mini-map: a small copy of the whole image, dimmed outside the part the
// view shows, with that part outlined. A press or drag on it asks for the pressed point to
// become the centre of the view. It knows nothing of the view: it is given the visible
// rectangle and reports scroll targets and its drag state through signals.
class NavigatorOverlay : public QWidget {
    Q_OBJECT

public:
    explicit NavigatorOverlay(QWidget *parent = nullptr);

    // The small preview of the current image and the point size it stands for.
    void setImage(const std::shared_ptr<const DisplayImage> &preview);
    void setVisibleRect(const QRectF &rect);
    // The map's size by the size rule; empty without an image.
    QSizeF mapSize() const { return mapSize_; }
    // Places the map (not its shadow) at `rect`, in the parent's coordinates.
    void setMapRect(const QRectF &rect);
    // The map's rectangle in this widget's coordinates.
    QRectF mapRect() const { return QRectF(mapOrigin_, mapSize_); }
    bool isDragging() const { return dragging_; }

signals:
    // An image point as fractions from its bottom-left corner, to centre in the view.
    void navigateRequested(QPointF target);
    void dragStateChanged(bool dragging);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void navigateTo(QPointF position);
    void updateShadow();

    const void *source_ = nullptr; // the preview the images below were made from
    QImage image_;                 // at most a few hundred pixels, 8-bit premultiplied
    QImage dimmed_;
    QImage shadow_;
    QSizeF mapSize_;
    QPointF mapOrigin_;
    QRectF visibleRect_{0, 0, 1, 1};
    bool dragging_ = false;
};

} // namespace orva
