#include "Kestro/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace kestro {

namespace {

constexpr char showMessage[] = "show\n";

QString runtimeFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists()) {
        return QString::fromLocal8Bit(runtime);
    }
    return QDir::tempPath();
}

} // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent) : QObject(parent) {
    if (folder.isEmpty()) {
        folder = runtimeFolder();
    }
    // The temporary folder is shared by every user: keep the names apart by user id.
    const QString base = QStringLiteral("kestro-%1").arg(::getuid());
    socketPath_ = QDir(folder).filePath(base + QStringLiteral(".socket"));
    lock_ = std::make_unique<QLockFile>(QDir(folder).filePath(base + QStringLiteral(".lock")));
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        return;
    }
    primary_ = true;
    // A socket left by an instance that died is in the way; the lock says none runs.
    QLocalServer::removeServer(socketPath_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->listen(socketPath_);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                while (client->canReadLine()) {
                    if (client->readLine() == showMessage) {
                        Q_EMIT showRequested();
                    }
                }
            });
        }
    });
}

SingleInstance::~SingleInstance() {
    if (server_) {
        server_->close();
    }
}

bool SingleInstance::askPrimaryToShow(int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    // The first instance may still be starting: its lock comes before its socket.
    while (elapsed.elapsed() < timeoutMs) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(500)) {
            socket.write(showMessage);
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return sent;
        }
        QThread::msleep(100);
    }
    return false;
}

} // namespace kestro
