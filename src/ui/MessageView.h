#pragma once

#include <QColor>
#include <QWidget>

namespace orva {

// A centred symbol over one or two lines of text: the empty window's invitation and the
// "cannot be displayed" notice. Clicks go through to what lies below.
class MessageView : public QWidget {
    Q_OBJECT

public:
    enum class Symbol { photo, warning };

    MessageView(Symbol symbol, QWidget *parent = nullptr);
    // Each line with its opacity; the second line (when given) is in the caption font.
    void setLines(const QString &title, double titleOpacity, const QString &caption = {},
                  double captionOpacity = 0);
    void setSymbolOpacity(double opacity) { symbolOpacity_ = opacity; }
    void setColor(const QColor &color);
    QColor color() const { return color_; }
    QString title() const { return title_; }
    QString caption() const { return caption_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Symbol symbol_;
    QString title_, caption_;
    double titleOpacity_ = 1, captionOpacity_ = 1, symbolOpacity_ = 0.4;
    QColor color_ = Qt::white;
};

} // namespace orva
