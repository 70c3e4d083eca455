#pragma once

#include <QFontMetricsF>
#include <QList>
#include <QString>

#include <functional>

class QPainter;
class QRectF;

namespace orva {

// Text whose digits all take the width of the font's widest digit, like the tabular figures
// of a typeface, so that a changing number ("9 / 24" to "10 / 24") does not shift the text
// around it. Qt offers no switch for the font's own tabular figures.
struct TabularPiece {
    QString text; // one digit, or a run of other characters
    qreal x = 0;  // left edge of its cell
    qreal width = 0;
};

// The pieces of `text` from x = 0; `advance` measures a piece as the font would.
QList<TabularPiece> layOutTabular(const QString &text,
                                  const std::function<qreal(const QString &)> &advance);

qreal tabularWidth(const QFontMetricsF &metrics, const QString &text);

// Draws `text` from the left edge of `rect`, vertically centred, in the painter's font.
void drawTabular(QPainter &painter, const QRectF &rect, const QString &text);

} // namespace orva
