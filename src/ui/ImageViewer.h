#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace orva {

class AppState;
class HistogramView;
class MessageView;
class MetadataPanel;
class NavigatorOverlay;
class StatusPill;
class ThumbnailBar;
namespace viewer {
class BlurredBackground;
}
class ViewerCommands;
class ZoomableImageView;

// The content of a viewer window, bottom layer first: background, the image view (or
// the empty-window invitation), the navigator, the failure notice, the metadata or
// histogram overlay, the status bar and the thumbnail strip. It answers the viewer's own keys,
// takes dropped files and shows the error alert.
class ImageViewer : public QWidget {
    Q_OBJECT

public:
    ImageViewer(AppState &state, ViewerCommands &commands, QWidget *parent = nullptr);

    ZoomableImageView &imageView() const { return *imageView_; }
    MessageView &emptyState() const { return *empty_; }
    MessageView &failureState() const { return *failure_; }
    MetadataPanel &metadataPanel() const { return *metadata_; }
    HistogramView &histogramView() const { return *histogram_; }
    NavigatorOverlay &navigator() const { return *navigator_; }
    StatusPill &statusBar() const { return *status_; }
    ThumbnailBar &thumbnailBar() const { return *strip_; }
    viewer::BlurredBackground &blurredBackground() const { return *blurred_; }
    // The open error alert, if any.
    QMessageBox *errorAlert() const { return errorAlert_; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void updateLayers();
    void updateStatusBar();
    void updateFailureNotice();
    void updateMessageColor();
    void layoutOverlays();
    void placeStatusBar();
    void updateNavigator();
    void showError();
    void currentFileChanged();
    void updateStrip();
    void updateBlurredSource();

    AppState &state_;
    ViewerCommands &commands_;
    ZoomableImageView *imageView_;
    MessageView *empty_;
    MessageView *failure_;
    MetadataPanel *metadata_;
    HistogramView *histogram_;
    NavigatorOverlay *navigator_;
    StatusPill *status_;
    ThumbnailBar *strip_;
    viewer::BlurredBackground *blurred_;
    QPointer<QMessageBox> errorAlert_;
    bool dragAcceptable_ = false;
};

} // namespace orva
