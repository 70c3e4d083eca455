#pragma once

#include <QWidget>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QTabWidget;
class QVBoxLayout;

namespace orva {

class DesktopServices;
class SettingsStore;
struct ImageFormat;

// The application's settings: window mode, background and slideshow interval on "General",
// the default application of each image format on "File Types". One window for the whole
// application; it writes the shared settings store, so every viewer follows at once.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    SettingsWindow(SettingsStore &store, DesktopServices &desktop, QWidget *parent = nullptr);

    // Creates the window on first use, then brings the same one forward.
    static SettingsWindow *showShared(SettingsStore &store, DesktopServices &desktop);

    QTabWidget *tabs() const { return tabs_; }
    QCheckBox *multiWindowToggle() const { return multiWindow_; }
    QLabel *multiWindowCaption() const { return caption_; }
    QComboBox *backgroundPicker() const { return background_; }
    QComboBox *intervalPicker() const { return interval_; }
    // The row widgets of "File Types", one per format, named after the format.
    QWidget *fileTypeRow(const QString &formatName) const;
    int revision() const { return revision_; }
    const std::optional<QString> &errorMessage() const { return errorMessage_; }

    // What "Use Orva" does for a format: asks the desktop, shows a failure in the "Error"
    // alert and rebuilds the list either way.
    void makeDefault(const ImageFormat &format);

private:
    QWidget *makeGeneralTab();
    QWidget *makeFileTypesTab();
    QWidget *makeRow(const ImageFormat &format, QWidget *parent);
    void readSettings();
    void rebuildFileTypes();

    SettingsStore &store_;
    DesktopServices &desktop_;
    QTabWidget *tabs_;
    QCheckBox *multiWindow_ = nullptr;
    QLabel *caption_ = nullptr;
    QComboBox *background_ = nullptr;
    QComboBox *interval_ = nullptr;
    QWidget *rows_ = nullptr;
    QVBoxLayout *rowsLayout_ = nullptr;
    int revision_ = 0;
    std::optional<QString> errorMessage_;
};

// The MIME type for a format's first extension; empty when there is none.
QString formatMimeType(const ImageFormat &format);

} // namespace orva
