#include "ui/ViewerWindow.h"

#include <QKeyEvent>
#include <QPalette>

namespace orva {

ViewerWindow::ViewerWindow(const AppServices &services, QWidget *parent)
    : QMainWindow(parent), state_(services), imageView_(new ZoomableImageView(state_, this))
{
    setCentralWidget(imageView_);
    imageView_->setFocus();
    setAttribute(Qt::WA_DeleteOnClose);
    QPalette dark = palette();
    dark.setColor(QPalette::Window, Qt::black);
    setPalette(dark);
    setAutoFillBackground(true);

    const auto updateTitle = [this] { setWindowTitle(state_.windowTitle()); };
    connect(&state_, &AppState::currentURLChanged, this, updateTitle);
    connect(&state_, &AppState::imageFilesChanged, this, updateTitle);
    connect(&state_, &AppState::currentIndexChanged, this, updateTitle);
    updateTitle();
}

void ViewerWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        emit firstShown();
    }
}

void ViewerWindow::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Right:
        state_.navigate(+1);
        break;
    case Qt::Key_Left:
        state_.navigate(-1);
        break;
    default:
        QMainWindow::keyPressEvent(event);
    }
}

} // namespace orva
