#include "ui/MetadataPanel.h"

#include "core/model/Enums.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace orva {

namespace {

QFont captionFont(const QWidget *w)
{
    QFont f = w->font();
    f.setPointSizeF(f.pointSizeF() * 0.85);
    return f;
}

QLabel *makeLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    // Values come from files: markup in a camera's Model must show as typed, never render
    // or load resources.
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    return label;
}

} // namespace

MetadataPanel::MetadataPanel(QWidget *parent) : QFrame(parent), layout_(new QVBoxLayout(this))
{
    setFixedWidth(panelWidth);
    layout_->setContentsMargins(inset, inset, inset, inset);
    layout_->setSpacing(6);
    QFont headline = font();
    headline.setBold(true);
    QLabel *header = makeLabel(labelText("Metadata"), headline, Qt::white, this);
    layout_->addWidget(header);
    layout_->addSpacing(4);
    rebuild();
}

void MetadataPanel::setEntries(const QList<MetadataEntry> &entries)
{
    if (entries == entries_)
        return;
    entries_ = entries;
    rebuild();
}

void MetadataPanel::rebuild()
{
    delete rows_;
    rows_ = new QWidget(this);
    const QFont caption = captionFont(this);
    if (entries_.isEmpty()) {
        auto *box = new QVBoxLayout(rows_);
        box->setContentsMargins(0, 0, 0, 0);
        box->addWidget(makeLabel(labelText("No metadata available"), caption,
                                 QColor(255, 255, 255, 150), rows_));
    } else {
        auto *grid = new QGridLayout(rows_);
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setHorizontalSpacing(8);
        grid->setVerticalSpacing(6);
        for (int i = 0; i < entries_.size(); ++i) {
            QLabel *label = makeLabel(entries_[i].label, caption, Qt::gray, rows_);
            label->setFixedWidth(90);
            label->setAlignment(Qt::AlignRight | Qt::AlignTop);
            QLabel *value = makeLabel(entries_[i].value, caption, Qt::white, rows_);
            value->setWordWrap(true);
            value->setTextInteractionFlags(Qt::TextSelectableByMouse);
            value->setFocusPolicy(Qt::NoFocus); // keys stay with the viewer
            value->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            grid->addWidget(label, i, 0, Qt::AlignTop);
            grid->addWidget(value, i, 1, Qt::AlignTop);
        }
    }
    layout_->addWidget(rows_);
    // A child added to a shown panel would only appear on a later turn, after the panel
    // had sized itself without it.
    rows_->show();
    layout_->activate();
    adjustSize();
}

bool MetadataPanel::event(QEvent *event)
{
    const bool handled = QFrame::event(event);
    // Rows that change size (a wrapped value, a new font) re-size the card.
    if (event->type() == QEvent::LayoutRequest)
        adjustSize();
    return handled;
}

void MetadataPanel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()), 8, 8);
    p.fillPath(card, QColor(0, 0, 0, 204));
}

} // namespace orva
