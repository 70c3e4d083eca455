#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>

namespace orva {

// One Orva per user session: a later launch hands its files to the running instance over
// a local socket and exits; the desktop's "open with" thereby reaches the existing windows.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // The per-user socket: in $XDG_RUNTIME_DIR when set, otherwise a name carrying the uid
    // (a bare name would live in the shared /tmp).
    static QString defaultSocketName();

    explicit SingleInstance(QString socketName = defaultSocketName(), QObject *parent = nullptr);

    // Sends the files to a running instance. True when one took them; this process should
    // then exit.
    bool handOff(const QStringList &absolutePaths);
    // Becomes the running instance. False when the socket cannot be created (Orva then runs
    // on its own).
    bool listen();

signals:
    void filesReceived(const QStringList &absolutePaths);

private:
    void readConnection(QLocalSocket *socket);

    QString name_;
    QLocalServer server_;
};

} // namespace orva
