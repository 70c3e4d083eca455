#pragma once

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QUrl>

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

    // Hands the files to a running instance (true: this process should exit), or becomes
    // the running instance. Launches that race each other take turns on a lock file next to
    // the socket, so exactly one of them ends up serving.
    bool handOffOrServe(const QList<QUrl> &files, const QByteArray &activationToken = {});

    // Sends the files to a running instance, with the token the desktop gave this launch
    // to bring a window forward (empty when none). True when an instance took them.
    bool handOff(const QList<QUrl> &files, const QByteArray &activationToken = {});
    // Becomes the running instance. False when another instance answers on the socket or
    // the socket cannot be created (Orva then runs on its own).
    bool listen();

signals:
    // The launch's activation token is empty when it had none (or an unusable one).
    void filesReceived(const QList<QUrl> &files, const QByteArray &activationToken);

private:
    void readConnection(QLocalSocket *socket);

    QString name_;
    QLocalServer server_;
};

} // namespace orva
