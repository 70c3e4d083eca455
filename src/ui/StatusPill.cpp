#include "ui/StatusPill.h"

#include "ui/TabularDigits.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace orva {

namespace {
constexpr int hPad = 8, vPad = 4, spacing = 8, dot = 8, dotSpacing = 3;
} // namespace

QColor tagColor(FinderTag tag)
{
    // The desktop's usual palette for the colour names.
    switch (tag) {
    case FinderTag::red:
        return QColor(0xe0, 0x1b, 0x24);
    case FinderTag::orange:
        return QColor(0xff, 0x78, 0x00);
    case FinderTag::yellow:
        return QColor(0xf6, 0xd3, 0x2d);
    case FinderTag::green:
        return QColor(0x33, 0xd1, 0x7a);
    case FinderTag::blue:
        return QColor(0x35, 0x84, 0xe4);
    case FinderTag::purple:
        return QColor(0x91, 0x41, 0xac);
    case FinderTag::gray:
        return QColor(0x9a, 0x99, 0x96);
    }
    return Qt::gray;
}

StatusPill::StatusPill(QWidget *parent)
    : QWidget(parent), opacity_(new QGraphicsOpacityEffect(this)), fade_(opacity_, "opacity")
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont caption = font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    setFont(caption);
    opacity_->setOpacity(1.0);
    setGraphicsEffect(opacity_);
    fade_.setDuration(300);
    fade_.setEasingCurve(QEasingCurve::InOutQuad);
}

void StatusPill::setContent(const viewer::StatusBarContent &content)
{
    if (content == content_)
        return;
    content_ = content;
    updateGeometry();
    resize(sizeHint());
    update();
}

void StatusPill::setShown(bool shown)
{
    if (shown == shown_)
        return;
    shown_ = shown;
    fade_.stop();
    fade_.setStartValue(opacity_->opacity());
    fade_.setEndValue(shown ? 1.0 : 0.0);
    fade_.start();
}

QStringList StatusPill::texts() const
{
    QStringList out;
    for (const QString &t : {content_.frameCounter, content_.position, content_.zoom})
        if (!t.isEmpty())
            out << t;
    return out;
}

QSize StatusPill::sizeHint() const
{
    const QFontMetrics fm(font());
    int width = 0;
    int items = 0;
    if (!content_.tags.isEmpty()) {
        width += int(content_.tags.size()) * dot + int(content_.tags.size() - 1) * dotSpacing;
        ++items;
    }
    for (const QString &t : texts()) {
        width += int(std::ceil(tabularWidth(QFontMetricsF(font()), t)));
        ++items;
    }
    width += std::max(0, items - 1) * spacing;
    return QSize(width + 2 * hPad, std::max(fm.height(), dot) + 2 * vPad);
}

void StatusPill::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath pill;
    pill.addRoundedRect(QRectF(rect()), 4, 4);
    p.fillPath(pill, QColor(0, 0, 0, 153));

    const QFontMetricsF fm(font());
    double x = hPad;
    const double midY = height() / 2.0;
    if (!content_.tags.isEmpty()) {
        p.setPen(Qt::NoPen);
        for (FinderTag tag : content_.tags) {
            p.setBrush(tagColor(tag));
            p.drawEllipse(QRectF(x, midY - dot / 2.0, dot, dot));
            x += dot + dotSpacing;
        }
        x += spacing - dotSpacing;
    }
    p.setPen(Qt::white);
    for (const QString &t : texts()) {
        const int w = int(std::ceil(tabularWidth(fm, t)));
        drawTabular(p, QRectF(x, 0, w, height()), t);
        x += w + spacing;
    }
}

} // namespace orva
