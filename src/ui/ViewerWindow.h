#pragma once

#include "core/state/AppState.h"

#include <QMainWindow>

namespace orva {

// A top-level viewer window. It owns its AppState for its whole life.
class ViewerWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit ViewerWindow(const AppServices &services, QWidget *parent = nullptr);

    AppState &state() { return state_; }

private:
    AppState state_;
};

} // namespace orva
