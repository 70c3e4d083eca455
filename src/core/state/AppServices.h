#pragma once

namespace orva {

class Scheduler;
class SettingsStore;
class TaskRuntime;

// The services a viewer state works through. The application passes the real ones;
// tests pass an in-memory store and a virtual clock.
struct AppServices {
    SettingsStore &settings;
    Scheduler &scheduler;
    TaskRuntime &tasks;
};

} // namespace orva
