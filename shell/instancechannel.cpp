#include "shell/instancechannel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <string>

#include "platform/instancelock.h"

namespace InstanceChannel {

namespace {

// A request is its command letter, a line end, then the file's bytes as the file system
// names them; a letter alone means no file.
const int kMaxMessage = 64 * 1024;

} // namespace

QString SocketPath(const char* lockName)
{
    const std::string folder = InstanceLock::LockFolder(lockName, nullptr);
    if (folder.empty()) {
        return QString();
    }
    return QFile::decodeName((folder + "/" + lockName + ".socket").c_str());
}

QByteArray Encode(const Request& request)
{
    QByteArray message(1, request.command);
    if (!request.file.isNull()) {
        message += '\n' + QFile::encodeName(request.file);
    }
    return message;
}

Request Decode(const QByteArray& message)
{
    Request request;
    if (message.isEmpty()) {
        return request;
    }
    const char command = message.at(0);
    request.command = command == 'P' || command == 'U' || command == 'T' ? command : 'G';
    const qsizetype newline = message.indexOf('\n');
    if (newline >= 0) {
        request.file = QFile::decodeName(message.mid(newline + 1));
    }
    return request;
}

bool SendToRunning(const QString& socketPath, const Request& request, int timeoutMs)
{
    if (socketPath.isEmpty()) {
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(500)) {
            socket.write(Encode(request));
            const bool written = socket.waitForBytesWritten(2000);
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState) {
                socket.waitForDisconnected(2000);
            }
            return written;
        }
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QThread::msleep(50);
    }
}

Server::Server(const QString& socketPath, std::function<void(const Request&)> handler,
               QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)), m_handler(std::move(handler))
{
    // Only the lock's holder gets here, so a socket file left by an ended instance is stale.
    QLocalServer::removeServer(socketPath);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (socketPath.isEmpty() || !m_server->listen(socketPath)) {
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            auto* message = new QByteArray;
            connect(socket, &QLocalSocket::readyRead, socket, [socket, message] {
                *message += socket->readAll();
                if (message->size() > kMaxMessage) {
                    socket->abort();
                }
            });
            auto finish = [this, socket, message] {
                *message += socket->readAll();
                if (message->size() <= kMaxMessage) {
                    m_handler(Decode(*message));
                }
                delete message;
                socket->deleteLater();
            };
            if (socket->state() == QLocalSocket::UnconnectedState) {
                finish(); // the whole request arrived, and the sender has gone already
            } else {
                connect(socket, &QLocalSocket::disconnected, this, finish);
            }
        }
    });
}

bool Server::IsListening() const
{
    return m_server->isListening();
}

} // namespace InstanceChannel
