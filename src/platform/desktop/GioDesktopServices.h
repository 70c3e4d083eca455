#pragma once

#include "core/services/DesktopServices.h"
#include "core/services/WallpaperBackend.h"

#include <memory>

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
    // g_app_info_get_default_for_type.
    std::optional<DesktopApplication>
    defaultApplicationForType(const QString &mimeType) const override;
    // g_app_info_set_as_default_for_type, which writes the user's mimeapps.list.
    std::optional<QString> makeOwnApplicationDefault(const QString &mimeType) override;
    // Chosen from XDG_CURRENT_DESKTOP on first use.
    WallpaperBackend *wallpaperBackend() override;

private:
    std::unique_ptr<WallpaperBackend> wallpaper_;
};

// Opens a folder with the desktop's default application for folders.
void openFolder(const QUrl &folder);

} // namespace orva
