#include "ui/HistogramView.h"

#include "core/model/Enums.h"

#include <QPainter>
#include <QPainterPath>

namespace orva {

namespace {

constexpr int titleGap = 2 + 8; // space below the title, then the column's spacing
constexpr double fillOpacity = 0.3;
constexpr double strokeOpacity = 0.7;

} // namespace

HistogramView::HistogramView(const ImageService &images, TaskRuntime &tasks, QWidget *parent)
    : QWidget(parent), loader_(images, tasks)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    spin_.setStartValue(0.0);
    spin_.setEndValue(360.0);
    spin_.setDuration(1000);
    spin_.setLoopCount(-1);
    connect(&spin_, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    connect(&loader_, &HistogramLoader::changed, this, [this] {
        updateSpinner();
        update();
    });
    resize(sizeHint());
}

void HistogramView::setUrl(const std::optional<QUrl> &url) { loader_.setUrl(url); }

QFont HistogramView::titleFont() const
{
    QFont f = font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.15);
    return f;
}

QRect HistogramView::plotRect() const
{
    const int top = inset + QFontMetrics(titleFont()).height() + titleGap;
    return QRect(QPoint(inset, top), plotSize);
}

QSize HistogramView::sizeHint() const
{
    const QRect plot = plotRect();
    return QSize(plot.right() + 1 + inset, plot.bottom() + 1 + inset);
}

void HistogramView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateSpinner();
}

void HistogramView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateSpinner();
}

void HistogramView::updateSpinner()
{
    // Turns only while something is being computed and someone can see it.
    const bool turning = isVisible() && loader_.status() == HistogramLoader::Status::computing;
    if (turning && spin_.state() != QAbstractAnimation::Running)
        spin_.start();
    else if (!turning)
        spin_.stop();
}

void HistogramView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()), 8, 8);
    p.fillPath(card, QColor(0, 0, 0, 204));

    p.setPen(Qt::white);
    p.setFont(titleFont());
    const QFontMetrics fm(p.font());
    p.drawText(QPoint(inset, inset + fm.ascent()), labelText("Histogram"));

    const QRect area = plotRect();
    switch (loader_.status()) {
    case HistogramLoader::Status::ready:
        paintCurves(p, area);
        break;
    case HistogramLoader::Status::failed:
        p.setFont(font());
        p.setPen(QColor(255, 255, 255, 150));
        p.drawText(area, Qt::AlignCenter, labelText("No histogram"));
        break;
    case HistogramLoader::Status::computing:
    case HistogramLoader::Status::idle:
        paintSpinner(p, area);
        break;
    }
}

void HistogramView::paintCurves(QPainter &p, const QRect &area) const
{
    const std::optional<HistogramData> &data = loader_.data();
    if (!data)
        return;
    p.save();
    p.translate(area.topLeft());
    const std::pair<const HistogramCounts *, QColor> channels[] = {
        {&data->red, Qt::red}, {&data->green, Qt::green}, {&data->blue, Qt::blue}};
    for (const auto &[counts, colour] : channels) {
        const QPainterPath path = histogramCurve(*counts, QSizeF(area.size()));
        if (path.isEmpty())
            continue;
        QColor fill = colour;
        fill.setAlphaF(float(fillOpacity));
        p.fillPath(path, fill);
        QColor stroke = colour;
        stroke.setAlphaF(float(strokeOpacity));
        p.strokePath(path, QPen(stroke, 1.0));
    }
    p.restore();
}

void HistogramView::paintSpinner(QPainter &p, const QRect &area) const
{
    const double angle = spin_.currentValue().toDouble();
    const QRectF ring(QPointF(area.center()) - QPointF(10, 10), QSizeF(20, 20));
    p.setPen(QPen(QColor(255, 255, 255, 60), 2.5));
    p.drawEllipse(ring);
    p.setPen(QPen(QColor(255, 255, 255, 200), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(ring, int(-angle * 16), 90 * 16);
}

} // namespace orva
