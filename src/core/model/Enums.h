#pragma once

#include <QString>

#include <array>
#include <optional>
#include <string_view>

namespace orva {

enum class DisplayMode { fitToWindow, actualSize, autoSizeWindow };
enum class OverlayMode { none, metadata, histogram };
enum class ZoomAction { fit, actualSize, zoomIn, zoomOut };
enum class BackgroundStyle { black, darkGray, lightGray, white, checkerboard, blurred };
enum class SortOrder { name, dateTaken, dateModified };

// One row per case: the raw value (the case name, which is what settings store) and
// the English label (empty when the case is never shown on its own).
template <class E> struct EnumCase {
    E value;
    std::string_view raw;
    const char *label;
};

template <class E> struct EnumTable;

template <> struct EnumTable<DisplayMode> {
    static constexpr std::array<EnumCase<DisplayMode>, 3> cases{{
        {DisplayMode::fitToWindow, "fitToWindow", "Fit to Window"},
        {DisplayMode::actualSize, "actualSize", "Actual Size"},
        {DisplayMode::autoSizeWindow, "autoSizeWindow", "Auto-Size Window"},
    }};
};

template <> struct EnumTable<OverlayMode> {
    static constexpr std::array<EnumCase<OverlayMode>, 3> cases{{
        {OverlayMode::none, "none", ""},
        {OverlayMode::metadata, "metadata", "Metadata"},
        {OverlayMode::histogram, "histogram", "Histogram"},
    }};
};

template <> struct EnumTable<ZoomAction> {
    static constexpr std::array<EnumCase<ZoomAction>, 4> cases{{
        {ZoomAction::fit, "fit", ""},
        {ZoomAction::actualSize, "actualSize", ""},
        {ZoomAction::zoomIn, "zoomIn", "Zoom In"},
        {ZoomAction::zoomOut, "zoomOut", "Zoom Out"},
    }};
};

template <> struct EnumTable<BackgroundStyle> {
    static constexpr std::array<EnumCase<BackgroundStyle>, 6> cases{{
        {BackgroundStyle::black, "black", "Black"},
        {BackgroundStyle::darkGray, "darkGray", "Dark Gray"},
        {BackgroundStyle::lightGray, "lightGray", "Light Gray"},
        {BackgroundStyle::white, "white", "White"},
        {BackgroundStyle::checkerboard, "checkerboard", "Checkerboard"},
        {BackgroundStyle::blurred, "blurred", "Blurred Image"},
    }};
};

template <> struct EnumTable<SortOrder> {
    static constexpr std::array<EnumCase<SortOrder>, 3> cases{{
        {SortOrder::name, "name", "Name"},
        {SortOrder::dateTaken, "dateTaken", "Date Taken"},
        {SortOrder::dateModified, "dateModified", "Date Modified"},
    }};
};

// All cases in declaration order.
template <class E> constexpr auto allCases()
{
    std::array<E, EnumTable<E>::cases.size()> out{};
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = EnumTable<E>::cases[i].value;
    return out;
}

template <class E> QString rawValue(E value)
{
    for (const auto &c : EnumTable<E>::cases)
        if (c.value == value)
            return QString::fromLatin1(c.raw.data(), qsizetype(c.raw.size()));
    return {};
}

// The case whose raw value is exactly `raw`; absent for anything else.
template <class E> std::optional<E> fromRawValue(const QString &raw)
{
    for (const auto &c : EnumTable<E>::cases)
        if (raw == QLatin1StringView(c.raw.data(), qsizetype(c.raw.size())))
            return c.value;
    return std::nullopt;
}

// The translated label; empty for cases that have none.
QString labelText(const char *english);
template <class E> QString label(E value)
{
    for (const auto &c : EnumTable<E>::cases)
        if (c.value == value)
            return labelText(c.label);
    return {};
}

} // namespace orva
