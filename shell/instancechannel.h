// How a second start of the desktop program reaches the one that runs: over a local socket
// of the user, beside the single-instance lock (so in a folder only the user can enter). The
// second start hands over its command and file and ends; the running window takes the file
// and comes to the front.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

namespace InstanceChannel {

// The socket's path for the lock of that name, or an empty text when the lock has no folder.
QString SocketPath(const char* lockName);

// What one start asks of the running window: its command letter ('G', 'P', 'U' or 'T') and its
// file (null: none).
struct Request {
    char command = 'G';
    QString file;
};
QByteArray Encode(const Request& request);
Request Decode(const QByteArray& message);

// What became of a request: the running window took it, refused it (a job runs, and the
// field names that job's file), or could not be reached.
enum class Delivery {
    Taken,
    Refused,
    Unreachable
};

// Sends the request to the running program, waiting up to timeoutMs for it to listen (it may
// still be starting) and for its answer.
Delivery SendToRunning(const QString& socketPath, const Request& request, int timeoutMs);

// The running program's end: listens on the socket and hands each request to handler, on the
// thread that created it; the handler's answer (true: taken) goes back to the sender.
class Server : public QObject {
    Q_OBJECT
public:
    Server(const QString& socketPath, std::function<bool(const Request&)> handler,
           QObject* parent = nullptr);
    bool IsListening() const;

private:
    QLocalServer* m_server;
    std::function<bool(const Request&)> m_handler;
};

} // namespace InstanceChannel
