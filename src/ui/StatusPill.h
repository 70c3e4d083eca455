#pragma once

#include "core/view/ViewerContent.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QWidget>

namespace orva {

// The viewer's status bar: a small translucent pill in the top-right corner with the
// colour-tag dots, the paused frame, the position in the folder and the zoom. It shows
// and hides with a 0.3 s ease-in-out fade.
class StatusPill : public QWidget {
    Q_OBJECT

public:
    static constexpr int inset = 8;

    explicit StatusPill(QWidget *parent = nullptr);
    void setContent(const viewer::StatusBarContent &content);
    const viewer::StatusBarContent &content() const { return content_; }
    // Fades to shown (opacity 1) or hidden (0).
    void setShown(bool shown);
    bool isShown() const { return shown_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QStringList texts() const;

    viewer::StatusBarContent content_;
    bool shown_ = true;
    QGraphicsOpacityEffect *opacity_;
    QPropertyAnimation fade_;
};

// The standard colour of a tag's dot.
QColor tagColor(FinderTag tag);

} // namespace orva
