#pragma once

#include <functional>
#include <memory>

class QWindow;

namespace orva {

// The mouse pointer as the viewer needs it: word of every movement over any of the
// application's windows, and hiding the pointer until it moves (slideshows).
class PointerEvents {
public:
    // Keeps a movement handler installed; destroying it removes the handler.
    class Monitor {
    public:
        virtual ~Monitor() = default;
    };

    virtual ~PointerEvents() = default;
    // `handler` runs on the main thread for each movement, with the window it happened
    // over (null when none of the application's).
    [[nodiscard]] virtual std::unique_ptr<Monitor>
    addMouseMovedMonitor(std::function<void(QWindow *)> handler) = 0;
    virtual void hidePointerUntilMouseMoves() = 0;
};

} // namespace orva
