#pragma once

#include "core/model/Enums.h"
#include "core/runtime/Transition.h"

#include <QImage>
#include <QObject>
#include <QPainter>
#include <QRect>
#include <QUrl>

#include <optional>

namespace orva {

class TaskRuntime;
class ThumbnailCache;

namespace viewer {

// Paints a viewer window's background style into `area`. The blurred style draws its
// black base here; BlurredBackground draws the image over it.
void paintBackground(QPainter &painter, const QRect &area, BackgroundStyle style);

// The blurred, darkened copy of the current image behind it, made from the shared cache's
// small thumbnail (never from the decoded image) on a worker thread, at the size of the
// window. A new thumbnail fades in over the last one, whose colours stay until it arrives.
class BlurredBackground : public QObject {
    Q_OBJECT

public:
    BlurredBackground(ThumbnailCache &cache, TaskRuntime &tasks, Scheduler &scheduler,
                      QObject *parent = nullptr);

    // The current image; with `active` false (another style) nothing is asked for.
    void setSource(const std::optional<QUrl> &url, bool active);
    // Black, then the blurred thumbnail when there is one.
    void paint(QPainter &painter, const QRect &area);
    bool hasThumbnail() const { return !thumbnail_.isNull(); }
    bool isFading() const { return fade_.isRunning(); }

signals:
    void changed();

private:
    void request();
    void setThumbnail(const QImage &thumbnail);
    void compose();

    ThumbnailCache &cache_;
    TaskRuntime &tasks_;
    std::optional<QUrl> url_;
    bool active_ = false;
    quint64 requestSerial_ = 0;
    QImage thumbnail_;     // the latest thumbnail; null when there is none
    QImage shown_, old_;   // blurred pictures: the one shown (fading in) and the one it covers
    qint64 shownFrom_ = 0; // cache key of the thumbnail `shown_` was made from
    QSize size_;           // of the area last painted
    quint64 composeSerial_ = 0;
    Transition fade_;
};

} // namespace viewer
} // namespace orva
