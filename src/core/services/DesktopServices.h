#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace orva {

class WallpaperBackend;

// An application installed on the desktop, as the desktop lists it.
struct DesktopApplication {
    QString name;
    QUrl url;           // its desktop entry
    QString identifier; // the desktop entry's id, for example "orva.desktop"
    QString icon;       // a theme icon name or an image path; may be empty
};

// The desktop around the viewer: other applications, the file manager and the clipboard.
// Main thread only.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    // The applications that can open the file, in the desktop's own order.
    virtual QList<DesktopApplication> applicationsForFile(const QUrl &file) const = 0;
    // The identifier Orva's own entry has in that list.
    virtual QString ownApplicationIdentifier() const = 0;
    // Starts the application on the file; a failure is not reported.
    virtual void openWith(const QUrl &file, const QUrl &application) = 0;
    // Shows the file selected in the file manager, or at least its folder.
    virtual void reveal(const QUrl &file) = 0;
    // Replaces the clipboard's content with the image.
    virtual void copyImageToClipboard(const QImage &image) = 0;

    // The application that opens files of the MIME type now; absent when there is none.
    virtual std::optional<DesktopApplication>
    defaultApplicationForType(const QString &mimeType) const
    {
        Q_UNUSED(mimeType);
        return std::nullopt;
    }
    // Makes Orva's own entry the default for the MIME type; the desktop's error text when
    // that fails.
    virtual std::optional<QString> makeOwnApplicationDefault(const QString &mimeType)
    {
        Q_UNUSED(mimeType);
        return QStringLiteral("This desktop keeps no default applications.");
    }
    // The desktop-picture setting of the running desktop; null when there is none at all.
    virtual WallpaperBackend *wallpaperBackend() { return nullptr; }
};

} // namespace orva
