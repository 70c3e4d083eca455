#include "platform/instance/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <algorithm>

#include <unistd.h>

namespace orva {

namespace {
constexpr int handOffTimeoutMs = 2000;
// Longer than a hand-off: a launch waits this long for the one ahead of it, then goes on
// without the lock rather than not starting at all.
constexpr int lockTimeoutMs = 5000;
constexpr qint64 maxMessageBytes = 1 << 20;
// A line that is no file URL: instances that predate it skip it.
constexpr char tokenPrefix[] = "x-orva-activation:";
constexpr qsizetype maxTokenBytes = 512;

// Startup ids and activation tokens are short printable ASCII; anything else (a space or a
// quote would need escaping in the X11 startup message) is not worth passing on.
bool usableToken(const QByteArray &token)
{
    return !token.isEmpty() && token.size() <= maxTokenBytes &&
           std::all_of(token.begin(), token.end(),
                       [](char c) { return c > ' ' && c < 0x7f && c != '"' && c != '\\'; });
}

bool answers(const QString &name)
{
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool connected = probe.waitForConnected(handOffTimeoutMs);
    probe.abort();
    return connected;
}
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

bool SingleInstance::handOffOrServe(const QList<QUrl> &files, const QByteArray &activationToken)
{
    // Without the lock, two launches can both find nobody listening, and the second one's
    // clean-up of a "stale" socket would unlink the first one's live socket.
    const QString lockPath = name_.contains(QLatin1Char('/'))
                                 ? name_ + QStringLiteral(".lock")
                                 : QDir(QDir::tempPath()).filePath(name_ + QStringLiteral(".lock"));
    QLockFile lock(lockPath); // a crashed holder's lock is recognised by its process id
    lock.tryLock(lockTimeoutMs);
    if (handOff(files, activationToken))
        return true;
    listen();
    return false;
}

bool SingleInstance::handOff(const QList<QUrl> &files, const QByteArray &activationToken)
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(handOffTimeoutMs))
        return false;
    // One encoded URL per line: plain ASCII that keeps any file name's bytes. An empty
    // message still means "bring a window up".
    QByteArray message;
    if (usableToken(activationToken))
        message += tokenPrefix + activationToken + '\n';
    for (const QUrl &url : files)
        message += url.toEncoded() + '\n';
    message += '\n'; // end of message
    socket.write(message);
    if (!socket.waitForBytesWritten(handOffTimeoutMs))
        return false;
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen()
{
    // Binding puts a new socket in place of whatever is at the path (Qt renames it there),
    // a live instance's socket included: only serve when nobody answers.
    if (answers(name_))
        return false;
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (server_.listen(name_))
        return true;
    // A socket left by a crashed instance answers nobody and may go.
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
        QList<QUrl> files;
        QByteArray token;
        for (const QByteArray &line : buffer->split('\n')) {
            if (line.startsWith(tokenPrefix)) {
                token = line.mid(qsizetype(sizeof tokenPrefix) - 1);
                continue;
            }
            const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
            if (!line.isEmpty() && url.isLocalFile())
                files << url;
        }
        buffer->clear();
        emit filesReceived(files, usableToken(token) ? token : QByteArray());
    });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
}

} // namespace orva
