#pragma once

namespace orva {

class DesktopServices;
class DirectoryWatcherFactory;
class FileOperations;
class ImageService;
class PointerEvents;
class Scheduler;
class ScreenInfo;
class SettingsStore;
class TagStore;
class TaskRuntime;
class ThumbnailCache;

// The services a viewer state works through. The application passes the real ones;
// tests pass in-memory and scripted ones and a virtual clock.
struct AppServices {
    SettingsStore &settings;
    Scheduler &scheduler;
    TaskRuntime &tasks;
    ImageService &images;
    ScreenInfo &screens;
    DirectoryWatcherFactory &watchers;
    TagStore &tags;
    PointerEvents &pointer;
    FileOperations &files;
    DesktopServices &desktop;
    ThumbnailCache &thumbnails;
};

} // namespace orva
