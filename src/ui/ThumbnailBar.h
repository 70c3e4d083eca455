#pragma once

#include "core/runtime/Transition.h"

#include <QHash>
#include <QSet>
#include <QUrl>
#include <QWidget>

namespace orva {

class AppState;
class ThumbnailCache;

// The strip of the folder's thumbnails along the bottom of a viewer window. The cells are
// painted, not widgets, and only the visible ones and a margin around them ask the shared
// cache for thumbnails, so a folder of any size costs what the window shows.
class ThumbnailBar : public QWidget {
    Q_OBJECT

public:
    ThumbnailBar(AppState &state, ThumbnailCache &cache, QWidget *parent = nullptr);

    double scrollOffset() const { return offset_; }
    // The cell's rectangle in this widget's coordinates.
    QRectF cellRect(int index) const;
    // Files whose thumbnails this strip is waiting for.
    const QSet<QUrl> &pending() const { return pending_; }
    bool isScrolling() const { return scroll_.isRunning(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void currentChanged();
    void setOffset(double offset);
    void requestVisible();

    AppState &state_;
    ThumbnailCache &cache_;
    double offset_ = 0;
    // The centring scroll, from `scrollFrom_` to `scrollTo_`.
    Transition scroll_;
    double scrollFrom_ = 0, scrollTo_ = 0;
    QSet<QUrl> pending_;
    // Files that gave no thumbnail while in view; asked again once scrolled away and back.
    QSet<QUrl> failed_;
};

} // namespace orva
