#pragma once

#include <QString>
#include <QUrl>

namespace orva {

// One application offered for opening the current file.
struct OpenWithApp {
    QString name;
    QUrl url;     // the application's desktop entry
    QString icon; // a theme icon name or an image path; may be empty

    bool operator==(const OpenWithApp &) const = default;
};

} // namespace orva
