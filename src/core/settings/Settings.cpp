#include "core/settings/Settings.h"

#include <cmath>

namespace orva {

namespace {
constexpr double defaultSlideshowInterval = 5.0;
constexpr double minimumSavedSide = 100.0;

QString key(const char *k) { return QString::fromLatin1(k); }
} // namespace

std::optional<bool> Settings::readBool(const char *k) const
{
    const auto v = store_.value(key(k));
    if (!v)
        return std::nullopt;
    switch (v->typeId()) {
    case QMetaType::Bool:
        return v->toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return v->toDouble() != 0.0;
    case QMetaType::QString: {
        // Text-based stores (INI) hand every value back as a string.
        const QString s = v->toString().trimmed().toLower();
        if (s == QLatin1String("true") || s == QLatin1String("yes") || s == QLatin1String("1"))
            return true;
        if (s == QLatin1String("false") || s == QLatin1String("no") || s == QLatin1String("0"))
            return false;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> Settings::readNumber(const char *k) const
{
    const auto v = store_.value(key(k));
    if (!v)
        return std::nullopt;
    bool ok = false;
    double d = 0;
    switch (v->typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        d = v->toDouble(&ok);
        break;
    case QMetaType::QString:
        d = v->toString().trimmed().toDouble(&ok);
        break;
    default:
        return std::nullopt;
    }
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

std::optional<QString> Settings::readString(const char *k) const
{
    const auto v = store_.value(key(k));
    if (!v || v->typeId() != QMetaType::QString)
        return std::nullopt;
    return v->toString();
}

void Settings::write(const char *k, const QVariant &value) { store_.setValue(key(k), value); }

std::optional<DisplayMode> Settings::storedDisplayMode() const
{
    return readEnum<DisplayMode>(SettingsKey::displayMode);
}

std::optional<OverlayMode> Settings::storedOverlayMode() const
{
    return readEnum<OverlayMode>(SettingsKey::overlayMode);
}

void Settings::setDisplayMode(DisplayMode mode) { write(SettingsKey::displayMode, rawValue(mode)); }

void Settings::setOverlayMode(OverlayMode mode) { write(SettingsKey::overlayMode, rawValue(mode)); }

bool Settings::showThumbnailBar() const
{
    return readBool(SettingsKey::showThumbnailBar).value_or(false);
}

void Settings::setShowThumbnailBar(bool show) { write(SettingsKey::showThumbnailBar, show); }

SortOrder Settings::sortOrder() const
{
    return readEnum<SortOrder>(SettingsKey::sortOrder).value_or(SortOrder::name);
}

void Settings::setSortOrder(SortOrder order) { write(SettingsKey::sortOrder, rawValue(order)); }

bool Settings::sortDescending() const
{
    return readBool(SettingsKey::sortDescending).value_or(false);
}

void Settings::setSortDescending(bool descending)
{
    write(SettingsKey::sortDescending, descending);
}

BackgroundStyle Settings::backgroundStyle() const
{
    return readEnum<BackgroundStyle>(SettingsKey::backgroundStyle).value_or(BackgroundStyle::black);
}

void Settings::setBackgroundStyle(BackgroundStyle style)
{
    write(SettingsKey::backgroundStyle, rawValue(style));
}

double Settings::slideshowInterval() const
{
    // A zero or negative interval would spin the slideshow; treat it as unreadable.
    const auto v = readNumber(SettingsKey::slideshowInterval);
    return v && *v > 0 ? *v : defaultSlideshowInterval;
}

void Settings::setSlideshowInterval(double seconds)
{
    write(SettingsKey::slideshowInterval, seconds);
}

bool Settings::isMultiWindowMode() const
{
    if (!store_.value(key(SettingsKey::multiWindowMode)))
        return true;
    return readBool(SettingsKey::multiWindowMode).value_or(false);
}

void Settings::setMultiWindowMode(bool multi) { write(SettingsKey::multiWindowMode, multi); }

std::optional<QSizeF> Settings::savedWindowSize() const
{
    const double w = readNumber(SettingsKey::lastWindowWidth).value_or(0);
    const double h = readNumber(SettingsKey::lastWindowHeight).value_or(0);
    if (w < minimumSavedSide || h < minimumSavedSide)
        return std::nullopt;
    return QSizeF(w, h);
}

void Settings::saveWindowSize(QSizeF size)
{
    write(SettingsKey::lastWindowWidth, size.width());
    write(SettingsKey::lastWindowHeight, size.height());
}

std::optional<QString> Settings::lastTransferFolder() const
{
    return readString(SettingsKey::lastTransferFolder);
}

void Settings::setLastTransferFolder(const QString &path)
{
    write(SettingsKey::lastTransferFolder, path);
}

} // namespace orva
