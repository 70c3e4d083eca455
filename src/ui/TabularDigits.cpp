#include "ui/TabularDigits.h"

#include <QPainter>

#include <algorithm>

namespace orva {

namespace {

std::function<qreal(const QString &)> measureWith(const QFontMetricsF &metrics)
{
    return [metrics](const QString &s) { return metrics.horizontalAdvance(s); };
}

} // namespace

QList<TabularPiece> layOutTabular(const QString &text,
                                  const std::function<qreal(const QString &)> &advance)
{
    qreal cell = 0;
    for (char16_t d = u'0'; d <= u'9'; ++d)
        cell = std::max(cell, advance(QString(QChar(d))));
    QList<TabularPiece> pieces;
    qreal x = 0;
    for (qsizetype i = 0; i < text.size();) {
        qsizetype j = i + 1;
        const bool digit = text[i].isDigit();
        if (!digit)
            while (j < text.size() && !text[j].isDigit())
                ++j;
        const QString piece = text.mid(i, j - i);
        const qreal width = digit ? std::max(cell, advance(piece)) : advance(piece);
        pieces.append({piece, x, width});
        x += width;
        i = j;
    }
    return pieces;
}

qreal tabularWidth(const QFontMetricsF &metrics, const QString &text)
{
    const QList<TabularPiece> pieces = layOutTabular(text, measureWith(metrics));
    return pieces.isEmpty() ? 0 : pieces.last().x + pieces.last().width;
}

void drawTabular(QPainter &painter, const QRectF &rect, const QString &text)
{
    const QFontMetricsF metrics(painter.font());
    for (const TabularPiece &piece : layOutTabular(text, measureWith(metrics))) {
        // A digit narrower than its cell sits in the middle of it.
        const qreal inset = (piece.width - metrics.horizontalAdvance(piece.text)) / 2;
        painter.drawText(
            QRectF(rect.left() + piece.x + inset, rect.top(), piece.width, rect.height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, piece.text);
    }
}

} // namespace orva
