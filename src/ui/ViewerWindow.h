#pragma once

#include "core/state/AppState.h"
#include "ui/ZoomableImageView.h"

#include <QMainWindow>

namespace orva {

// A top-level viewer window. It owns its AppState for its whole life.
class ViewerWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit ViewerWindow(const AppServices &services, QWidget *parent = nullptr);

    AppState &state() { return state_; }
    ZoomableImageView &imageView() { return *imageView_; }

signals:
    // Once, when the window is first shown (it then has its platform window).
    void firstShown();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    AppState state_;
    ZoomableImageView *imageView_;
    bool shown_ = false;
};

} // namespace orva
