#include "platform/instance/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace orva {

namespace {
constexpr int handOffTimeoutMs = 2000;
constexpr qint64 maxMessageBytes = 1 << 20;
} // namespace

QString SingleInstance::defaultSocketName()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return QDir(runtime).filePath(QStringLiteral("orva.socket"));
    return QStringLiteral("orva-%1").arg(getuid());
}

SingleInstance::SingleInstance(QString socketName, QObject *parent)
    : QObject(parent), name_(std::move(socketName))
{
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_.nextPendingConnection())
            readConnection(socket);
    });
}

bool SingleInstance::handOff(const QStringList &absolutePaths)
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(handOffTimeoutMs))
        return false;
    // One path per line; an empty message still means "bring a window up".
    QByteArray message;
    for (const QString &p : absolutePaths)
        message += p.toUtf8() + '\n';
    message += '\n'; // end of message
    socket.write(message);
    if (!socket.waitForBytesWritten(handOffTimeoutMs))
        return false;
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen()
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (server_.listen(name_))
        return true;
    // A socket left by a crashed instance answers nobody; it was checked by handOff().
    QLocalServer::removeServer(name_);
    return server_.listen(name_);
}

void SingleInstance::readConnection(QLocalSocket *socket)
{
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
        *buffer += socket->readAll();
        if (buffer->size() > maxMessageBytes) {
            socket->abort();
            return;
        }
        if (!buffer->endsWith("\n\n") && *buffer != "\n")
            return;
        QStringList paths;
        for (const QByteArray &line : buffer->split('\n'))
            if (!line.isEmpty())
                paths << QString::fromUtf8(line);
        buffer->clear();
        emit filesReceived(paths);
    });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
}

} // namespace orva
