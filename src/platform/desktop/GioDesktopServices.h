#pragma once

#include "core/services/DesktopServices.h"

namespace orva {

// The desktop through GIO (desktop entries and mimeapps.list), D-Bus for the file manager
// and Qt's clipboard.
class GioDesktopServices final : public DesktopServices {
public:
    QList<DesktopApplication> applicationsForFile(const QUrl &file) const override;
    // The desktop entry Orva runs as: the application's desktop file name plus ".desktop".
    QString ownApplicationIdentifier() const override;
    void openWith(const QUrl &file, const QUrl &application) override;
    // org.freedesktop.FileManager1.ShowItems; without a session bus or such a service, the
    // folder opens in the default application for folders.
    void reveal(const QUrl &file) override;
    void copyImageToClipboard(const QImage &image) override;
};

// Opens a folder with the desktop's default application for folders.
void openFolder(const QUrl &folder);

} // namespace orva
