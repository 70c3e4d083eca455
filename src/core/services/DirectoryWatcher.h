#pragma once

#include <QUrl>

#include <functional>
#include <memory>

namespace orva {

// A watch on one folder's own entry: entries added, removed or renamed in it, a file in
// it closed after writing, and the folder itself renamed or deleted. Destroying the
// watcher stops the watch.
class DirectoryWatcher {
public:
    virtual ~DirectoryWatcher() = default;
    virtual QUrl directory() const = 0;
    // False once the watch no longer covers the folder at `directory()`: the folder was
    // moved away, deleted or replaced by another, or the system dropped the watch.
    virtual bool isWatching() const = 0;
};

class DirectoryWatcherFactory {
public:
    virtual ~DirectoryWatcherFactory() = default;
    // Calls `onChange` on the main thread for every batch of events; absent when the
    // folder cannot be watched.
    virtual std::unique_ptr<DirectoryWatcher> watch(const QUrl &folder,
                                                    std::function<void()> onChange) = 0;
};

} // namespace orva
