#include "shell/instancechannel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QVariant>
#include <string>

#include "platform/instancelock.h"

namespace InstanceChannel {

namespace {

// A request is its command letter, a line end, then the file's bytes as the file system
// names them (a letter alone means no file), and a zero byte, which no file name holds. The
// answer is one byte: '1' taken, '0' refused.
const int kMaxMessage = 64 * 1024;
const char kEnd = '\0';

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

Delivery SendToRunning(const QString& socketPath, const Request& request, int timeoutMs)
{
    if (socketPath.isEmpty()) {
        return Delivery::Unreachable;
    }
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(500)) {
            socket.write(Encode(request) + kEnd);
            if (!socket.waitForBytesWritten(2000)) {
                return Delivery::Unreachable;
            }
            QByteArray answer;
            while (answer.isEmpty() && socket.waitForReadyRead(timeoutMs)) {
                answer += socket.readAll();
            }
            answer += socket.readAll();
            socket.disconnectFromServer();
            if (answer.startsWith('1')) {
                return Delivery::Taken;
            }
            return answer.startsWith('0') ? Delivery::Refused : Delivery::Unreachable;
        }
        if (clock.elapsed() > timeoutMs) {
            return Delivery::Unreachable;
        }
        QThread::msleep(50);
    }
}

Server::Server(const QString& socketPath, std::function<bool(const Request&)> handler,
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
            // The request is handled once its end has come, and answered; a sender that has
            // gone before its end was not whole, and is not handled.
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                QByteArray message = socket->property("message").toByteArray() + socket->readAll();
                const qsizetype end = message.indexOf(kEnd);
                if (end < 0) {
                    if (message.size() > kMaxMessage) {
                        socket->abort();
                    } else {
                        socket->setProperty("message", message);
                    }
                    return;
                }
                const bool taken = m_handler(Decode(message.left(end)));
                socket->write(taken ? "1" : "0");
                socket->flush();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (socket->bytesAvailable() > 0) {
                QMetaObject::invokeMethod(socket, "readyRead", Qt::QueuedConnection);
            }
        }
    });
}

bool Server::IsListening() const
{
    return m_server->isListening();
}

} // namespace InstanceChannel
