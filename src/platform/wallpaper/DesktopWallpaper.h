#pragma once

#include "core/services/WallpaperBackend.h"

#include <memory>

namespace orva {

// A desktop whose picture is a GSettings key (GNOME, Cinnamon, MATE). The schema and its
// keys are looked up before any GSettings object exists: GSettings aborts the process on
// a missing schema.
class GSettingsWallpaper final : public WallpaperBackend {
public:
    // `keys` are written alike; `asUri` stores file:// URIs, otherwise plain paths.
    GSettingsWallpaper(QString schema, QStringList keys, bool asUri);
    QString unavailableReason() const override;
    std::optional<QString> setPicture(const QString &path) override;
    QStringList picturesInUse() const override;

private:
    QString schema_;
    QStringList keys_;
    bool asUri_;
};

// KDE Plasma: a script for every desktop through org.kde.PlasmaShell.evaluateScript.
class PlasmaWallpaper final : public WallpaperBackend {
public:
    QString unavailableReason() const override;
    std::optional<QString> setPicture(const QString &path) override;
    QStringList picturesInUse() const override;
};

// XFCE: xfconf's "last-image" of every monitor and workspace, over D-Bus.
class XfceWallpaper final : public WallpaperBackend {
public:
    QString unavailableReason() const override;
    std::optional<QString> setPicture(const QString &path) override;
    QStringList picturesInUse() const override;
};

// A desktop Orva has no backend for: every attempt reports why.
class UnsupportedWallpaper final : public WallpaperBackend {
public:
    explicit UnsupportedWallpaper(QString reason) : reason_(std::move(reason)) {}
    QString unavailableReason() const override { return reason_; }
    std::optional<QString> setPicture(const QString &) override { return reason_; }
    QStringList picturesInUse() const override { return {}; }

private:
    QString reason_;
};

// The backend for a value of XDG_CURRENT_DESKTOP (a colon-separated list of names).
std::unique_ptr<WallpaperBackend> wallpaperBackendForDesktop(const QString &currentDesktop);

} // namespace orva
