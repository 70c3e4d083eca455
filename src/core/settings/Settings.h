#pragma once

#include "core/model/Enums.h"
#include "core/settings/SettingsStore.h"

#include <QSizeF>

#include <optional>

namespace orva {

namespace SettingsKey {
inline constexpr auto displayMode = "displayMode";
inline constexpr auto overlayMode = "overlayMode";
inline constexpr auto showThumbnailBar = "showThumbnailBar";
inline constexpr auto sortOrder = "sortOrder";
inline constexpr auto sortDescending = "sortDescending";
inline constexpr auto backgroundStyle = "backgroundStyle";
inline constexpr auto slideshowInterval = "slideshowInterval";
inline constexpr auto multiWindowMode = "multiWindowMode";
inline constexpr auto lastWindowWidth = "lastWindowWidth";
inline constexpr auto lastWindowHeight = "lastWindowHeight";
inline constexpr auto lastTransferFolder = "lastTransferFolder";
} // namespace SettingsKey

// Typed access to the persisted settings. Stateless apart from the store it reads,
// so any window (or none) can use it. A stored value that cannot be read as its type
// yields the default and is left as it is.
class Settings {
public:
    explicit Settings(SettingsStore &store) : store_(store) {}

    SettingsStore &store() const { return store_; }

    // Absent when the key is missing or holds no case of the enumeration.
    std::optional<DisplayMode> storedDisplayMode() const;
    std::optional<OverlayMode> storedOverlayMode() const;
    void setDisplayMode(DisplayMode mode);
    void setOverlayMode(OverlayMode mode);

    bool showThumbnailBar() const;
    void setShowThumbnailBar(bool show);

    SortOrder sortOrder() const;
    void setSortOrder(SortOrder order);
    bool sortDescending() const;
    void setSortDescending(bool descending);

    BackgroundStyle backgroundStyle() const;
    void setBackgroundStyle(BackgroundStyle style);

    // Seconds; 5 when absent, unreadable, or not a positive finite number.
    double slideshowInterval() const;
    void setSlideshowInterval(double seconds);

    // True only when the key has never been written.
    bool isMultiWindowMode() const;
    void setMultiWindowMode(bool multi);

    // The remembered window size, when both sides are at least 100 points.
    std::optional<QSizeF> savedWindowSize() const;
    void saveWindowSize(QSizeF size);

    std::optional<QString> lastTransferFolder() const;
    void setLastTransferFolder(const QString &path);

    // Strict readers shared by the accessors above; absent when missing or unreadable.
    std::optional<bool> readBool(const char *key) const;
    std::optional<double> readNumber(const char *key) const;
    std::optional<QString> readString(const char *key) const;

private:
    template <class E> std::optional<E> readEnum(const char *key) const
    {
        auto s = readString(key);
        return s ? fromRawValue<E>(*s) : std::nullopt;
    }
    void write(const char *key, const QVariant &value);

    SettingsStore &store_;
};

} // namespace orva
