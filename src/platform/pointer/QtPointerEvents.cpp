#include "platform/pointer/QtPointerEvents.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QWindow>

namespace orva {

class QtPointerEvents::Entry final : public PointerEvents::Monitor {
public:
    Entry(QtPointerEvents &owner, std::function<void(QWindow *)> handler)
        : owner_(owner), handler(std::move(handler))
    {
        owner_.monitors_.append(this);
    }
    ~Entry() override { owner_.monitors_.removeOne(this); }

    QtPointerEvents &owner_;
    std::function<void(QWindow *)> handler;
};

QtPointerEvents::QtPointerEvents() { QCoreApplication::instance()->installEventFilter(this); }

QtPointerEvents::~QtPointerEvents()
{
    if (hiddenAt_)
        QGuiApplication::restoreOverrideCursor();
}

std::unique_ptr<PointerEvents::Monitor>
QtPointerEvents::addMouseMovedMonitor(std::function<void(QWindow *)> handler)
{
    return std::make_unique<Entry>(*this, std::move(handler));
}

void QtPointerEvents::hidePointerUntilMouseMoves()
{
    if (hiddenAt_)
        return;
    hiddenAt_ = QCursor::pos();
    QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
}

bool QtPointerEvents::eventFilter(QObject *watched, QEvent *event)
{
    // Top-level windows see each movement once; widgets would repeat it per level.
    if (event->type() != QEvent::MouseMove || !watched->isWindowType())
        return false;
    const auto *move = static_cast<QMouseEvent *>(event);
    // Sub-pixel positions of synthetic moves differ from the integer cursor position.
    if (hiddenAt_ && (move->globalPosition() - *hiddenAt_).manhattanLength() > 1.0) {
        hiddenAt_.reset();
        QGuiApplication::restoreOverrideCursor();
    }
    auto *window = static_cast<QWindow *>(watched);
    // A handler may remove monitors (a window closing), so walk a copy.
    const QList<Entry *> current = monitors_;
    for (Entry *m : current)
        if (monitors_.contains(m))
            m->handler(window);
    return false;
}

} // namespace orva
