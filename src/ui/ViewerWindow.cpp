#include "ui/ViewerWindow.h"

#include <QPalette>

namespace orva {

ViewerWindow::ViewerWindow(const AppServices &services, QWidget *parent)
    : QMainWindow(parent), state_(services)
{
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

} // namespace orva
