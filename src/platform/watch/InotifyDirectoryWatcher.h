#pragma once

#include "core/services/DirectoryWatcher.h"

namespace orva {

// Watches through inotify, delivering on the thread that calls watch(), which needs a
// running event loop.
class InotifyDirectoryWatcherFactory final : public DirectoryWatcherFactory {
public:
    std::unique_ptr<DirectoryWatcher> watch(const QUrl &folder,
                                            std::function<void()> onChange) override;
};

} // namespace orva
