#pragma once

#include "core/model/ImageProperties.h"

#include <QUrl>

#include <optional>

namespace orva {

// Absent when no decoder recognises the file.
std::optional<ImageProperties> readImageProperties(const QUrl &url);

} // namespace orva
