#pragma once

#include "core/state/AppState.h"
#include "core/view/WindowSizing.h"

#include <QMainWindow>

namespace orva {

class ImageViewer;
class ViewerCommands;
class ZoomableImageView;

// A top-level viewer window. It owns its AppState for its whole life, carries the menu
// bar acting on that state, and remembers the size the user gives it.
class ViewerWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int minimumWidth = 320, minimumHeight = 240;

    explicit ViewerWindow(const AppServices &services, QWidget *parent = nullptr);
    ~ViewerWindow() override;

    AppState &state() { return state_; }
    ImageViewer &viewer() { return *viewer_; }
    ZoomableImageView &imageView();
    ViewerCommands &commands() { return *commands_; }

    // Orva itself is about to move or resize the window; not a size to remember.
    void expectProgrammaticResize() { resizeTracker_.expectProgrammaticResize(); }

signals:
    // Once, when the window is first shown (it then has its platform window).
    void firstShown();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void windowKnown();
    void chooseFileToOpen();

    AppState state_;
    ViewerCommands *commands_;
    ImageViewer *viewer_;
    LiveResizeTracker resizeTracker_;
    bool shown_ = false;
};

} // namespace orva
