#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace orva {

// The running desktop's picture setting. Main thread only.
class WallpaperBackend {
public:
    virtual ~WallpaperBackend() = default;
    // Why this desktop's picture cannot be set (no backend, no session bus, no schema);
    // empty when it can.
    virtual QString unavailableReason() const = 0;
    // MIME types the desktop shows as they are; anything else gets a converted copy.
    virtual QStringList nativeMimeTypes() const
    {
        return {QStringLiteral("image/jpeg"), QStringLiteral("image/png"),
                QStringLiteral("image/tiff")};
    }
    // Shows the file on every screen and reads the setting back; the error text on failure.
    virtual std::optional<QString> setPicture(const QString &path) = 0;
    // Local paths of the pictures the desktop shows now.
    virtual QStringList picturesInUse() const = 0;
};

} // namespace orva
