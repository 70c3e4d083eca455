#include "ui/ViewerWindow.h"

#include "core/services/ImageService.h"
#include "ui/ImageViewer.h"
#include "ui/ViewerCommands.h"
#include "ui/ZoomableImageView.h"

#include <QFileDialog>
#include <QMenuBar>
#include <QPointer>
#include <QWindow>

namespace orva {

ViewerWindow::ViewerWindow(const AppServices &services, QWidget *parent)
    : QMainWindow(parent), state_(services), commands_(new ViewerCommands(state_, this)),
      viewer_(new ImageViewer(state_, *commands_, this)),
      resizeTracker_(services.scheduler,
                     [this](QSize size) { state_.settings().saveWindowSize(QSizeF(size)); })
{
    setCentralWidget(viewer_);
    setAttribute(Qt::WA_DeleteOnClose);
    // Smaller, the menu bar folds into its overflow button and the status bar covers the
    // picture; smaller images are centred in a window of this size.
    setMinimumSize(minimumWidth, minimumHeight);
    commands_->populateMenuBar(menuBar());
    addActions(commands_->shortcutActions());
    connect(commands_, &ViewerCommands::openRequested, this, &ViewerWindow::chooseFileToOpen);
    connect(&imageView(), &ZoomableImageView::windowResizeRequested, this,
            &ViewerWindow::expectProgrammaticResize);
    connect(&imageView(), &ZoomableImageView::fitModeChanged, commands_,
            &ViewerCommands::setViewFitted);

    // Qt reads "[*]" in a title as the unsaved-changes mark; doubled, it shows as typed.
    const auto updateTitle = [this] {
        setWindowTitle(state_.windowTitle().replace(QLatin1String("[*]"), QLatin1String("[*][*]")));
    };
    connect(&state_, &AppState::currentURLChanged, this, updateTitle);
    connect(&state_, &AppState::imageFilesChanged, this, updateTitle);
    connect(&state_, &AppState::currentIndexChanged, this, updateTitle);
    updateTitle();
}

ViewerWindow::~ViewerWindow()
{
    // The content observes the state: it goes first (children would otherwise outlive the
    // state member until QWidget's own destructor).
    delete takeCentralWidget();
}

ZoomableImageView &ViewerWindow::imageView() { return viewer_->imageView(); }

void ViewerWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        windowKnown();
        emit firstShown();
    }
}

void ViewerWindow::windowKnown()
{
    // Runs before the window is mapped, so the remembered size shows without a jump.
    state_.setWindow(windowHandle());
    expectProgrammaticResize();
    const QRect frame =
        restoredWindowFrame(geometry(), state_.settings().savedWindowSize(), state_.displayMode());
    if (frame.size() != size())
        resize(frame.size()); // the top-left corner stays; the window manager may place it
}

void ViewerWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (shown_) // sizes set before the window is first shown are Orva's own
        resizeTracker_.resized(size(), windowState() == Qt::WindowNoState);
}

void ViewerWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        // Entering or leaving full screen resizes the window without the user dragging.
        expectProgrammaticResize();
        menuBar()->setVisible(!isFullScreen());
    }
}

void ViewerWindow::chooseFileToOpen()
{
    QStringList patterns;
    for (const QString &ext : state_.services().images.supportedExtensions())
        patterns << QStringLiteral("*.") + ext;
    patterns.sort();
    const QString folder = state_.currentURL()
                               ? state_.currentURL()->adjusted(QUrl::RemoveFilename).toLocalFile()
                               : QString();
    const QPointer<ViewerWindow> self(this);
    const QString path = QFileDialog::getOpenFileName(
        this, labelText("Open"), folder,
        labelText("Images") + QStringLiteral(" (%1)").arg(patterns.join(QLatin1Char(' '))));
    if (self && !path.isEmpty())
        state_.open(QUrl::fromLocalFile(path)); // this window shows it, in either window mode
}

} // namespace orva
