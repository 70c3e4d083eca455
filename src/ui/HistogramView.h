#pragma once

#include "core/histogram/Histogram.h"

#include <QVariantAnimation>
#include <QWidget>

namespace orva {

// The histogram overlay: a dark translucent card titled "Histogram" over the red, green
// and blue distributions of a file, drawn as translucent curves in a 256 x 120 area. A
// spinner turns while the counts are being computed; a file that gives none reads
// "No histogram", so a failure never looks like progress.
class HistogramView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize plotSize{256, 120};
    static constexpr int inset = 16; // inside the card, and from the window's corner

    HistogramView(const ImageService &images, TaskRuntime &tasks, QWidget *parent = nullptr);

    // The file to analyse; absent stops and clears.
    void setUrl(const std::optional<QUrl> &url);
    const HistogramLoader &loader() const { return loader_; }
    // Where the curves are drawn, in this widget's coordinates.
    QRect plotRect() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QFont titleFont() const;
    void updateSpinner();
    void paintCurves(QPainter &p, const QRect &area) const;
    void paintSpinner(QPainter &p, const QRect &area) const;

    HistogramLoader loader_;
    QVariantAnimation spin_;
};

} // namespace orva
