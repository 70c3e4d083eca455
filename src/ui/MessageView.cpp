#include "ui/MessageView.h"

#include <QPainter>
#include <QPainterPath>

namespace orva {

namespace {

// A framed landscape: the usual "photo" pictogram, drawn so no icon theme is needed.
void drawPhoto(QPainter &p, const QRectF &box, const QColor &c)
{
    const double w = box.width();
    QPen pen(c, w * 0.07);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF frame = box.adjusted(w * 0.04, w * 0.12, -w * 0.04, -w * 0.12);
    p.drawRoundedRect(frame, w * 0.1, w * 0.1);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    QPainterPath hills;
    const double base = frame.bottom() - w * 0.12;
    hills.moveTo(frame.left() + w * 0.12, base);
    hills.lineTo(frame.left() + w * 0.38, frame.top() + frame.height() * 0.42);
    hills.lineTo(frame.left() + w * 0.56, frame.top() + frame.height() * 0.66);
    hills.lineTo(frame.left() + w * 0.68, frame.top() + frame.height() * 0.54);
    hills.lineTo(frame.right() - w * 0.12, base);
    hills.closeSubpath();
    p.drawPath(hills);
    p.drawEllipse(QPointF(frame.right() - w * 0.25, frame.top() + frame.height() * 0.3), w * 0.07,
                  w * 0.07);
}

// A warning triangle with an exclamation mark.
void drawWarning(QPainter &p, const QRectF &box, const QColor &c)
{
    const double w = box.width();
    QPen pen(c, w * 0.08);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPainterPath tri;
    tri.moveTo(box.center().x(), box.top() + w * 0.08);
    tri.lineTo(box.right() - w * 0.06, box.bottom() - w * 0.1);
    tri.lineTo(box.left() + w * 0.06, box.bottom() - w * 0.1);
    tri.closeSubpath();
    p.drawPath(tri);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(QPointF(box.center().x(), box.top() + w * 0.38),
               QPointF(box.center().x(), box.top() + w * 0.62));
    p.drawPoint(QPointF(box.center().x(), box.bottom() - w * 0.24));
}

} // namespace

MessageView::MessageView(Symbol symbol, QWidget *parent) : QWidget(parent), symbol_(symbol)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void MessageView::setLines(const QString &title, double titleOpacity, const QString &caption,
                           double captionOpacity)
{
    title_ = title;
    titleOpacity_ = titleOpacity;
    caption_ = caption;
    captionOpacity_ = captionOpacity;
    update();
}

void MessageView::setColor(const QColor &color)
{
    if (color == color_)
        return;
    color_ = color;
    update();
}

void MessageView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double symbolSize = symbol_ == Symbol::photo ? 48 : 40;
    QFont captionFont = font();
    captionFont.setPointSizeF(captionFont.pointSizeF() * 0.85);
    const QFontMetricsF titleMetrics(font()), captionMetrics(captionFont);
    constexpr double spacing = 12;
    double height = symbolSize + spacing + titleMetrics.height();
    if (!caption_.isEmpty())
        height += spacing + captionMetrics.height();
    double y = (this->height() - height) / 2;

    auto tinted = [this](double opacity) {
        QColor c = color_;
        c.setAlphaF(float(opacity));
        return c;
    };
    const QRectF symbolBox(width() / 2.0 - symbolSize / 2, y, symbolSize, symbolSize);
    if (symbol_ == Symbol::photo)
        drawPhoto(p, symbolBox, tinted(symbolOpacity_));
    else
        drawWarning(p, symbolBox, tinted(symbolOpacity_));
    y += symbolSize + spacing;
    p.setPen(tinted(titleOpacity_));
    p.drawText(QRectF(0, y, width(), titleMetrics.height()), Qt::AlignCenter, title_);
    if (!caption_.isEmpty()) {
        y += titleMetrics.height() + spacing;
        p.setFont(captionFont);
        p.setPen(tinted(captionOpacity_));
        p.drawText(QRectF(0, y, width(), captionMetrics.height()), Qt::AlignCenter, caption_);
    }
}

} // namespace orva
