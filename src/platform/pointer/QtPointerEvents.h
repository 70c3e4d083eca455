#pragma once

#include "core/services/PointerEvents.h"

#include <QObject>
#include <QPointF>

#include <optional>

namespace orva {

// Mouse movement seen through an application-wide event filter on the top-level
// windows (they receive every movement, tracking or not); the pointer is hidden with a
// blank override cursor until the pointer really moves.
class QtPointerEvents final : public QObject, public PointerEvents {
    Q_OBJECT

public:
    QtPointerEvents();
    ~QtPointerEvents() override;

    std::unique_ptr<Monitor> addMouseMovedMonitor(std::function<void(QWindow *)> handler) override;
    void hidePointerUntilMouseMoves() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class Entry;
    QList<Entry *> monitors_;
    // Where the pointer was hidden: window changes (full screen) send synthetic moves
    // without the pointer moving, and those must not bring it back.
    std::optional<QPointF> hiddenAt_;
};

} // namespace orva
