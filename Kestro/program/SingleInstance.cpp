#include "Kestro/program/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestro {

namespace {

constexpr char showMessage[] = "show\n";

// Anything longer than the message is not a later start of ours.
constexpr qint64 maxMessageBytes = 64;

} // namespace

QString SingleInstance::privateFolder(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    // Looked at without following a link: a link planted in a shared folder would lead the lock
    // and the socket wherever its maker chose.
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid()) {
        return {};
    }
    if ((info.st_mode & 0777) != 0700 && ::chmod(name.constData(), 0700) != 0) {
        return {};
    }
    return path;
}

QString SingleInstance::runtimeFolder() {
    // Taken only when it is what it should be: ours and open to no one else.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (!runtime.isEmpty() && ::stat(runtime.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == ::getuid() && (info.st_mode & 077) == 0) {
        return QString::fromLocal8Bit(runtime);
    }
    // The temporary folder is shared by every user: only a folder of our own there is safe
    // from files that others plant. When one of theirs holds its name, the home folder serves.
    const QString own =
        QDir(QDir::tempPath()).filePath(QStringLiteral("kestro-%1").arg(::getuid()));
    if (QString folder = privateFolder(own); !folder.isEmpty()) {
        return folder;
    }
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty() || !QDir().mkpath(cache)) {
        return {};
    }
    return privateFolder(QDir(cache).filePath(QStringLiteral("kestro-runtime")));
}

SingleInstance::SingleInstance(QString folder, QObject* parent) : QObject(parent) {
    if (folder.isEmpty()) {
        folder = runtimeFolder();
    }
    if (folder.isEmpty()) {
        // No folder that others cannot reach: run alone rather than not at all.
        primary_ = true;
        return;
    }
    // The names are kept apart by user id, as they were in the shared temporary folder.
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
    listen();
    // A failed accept (no descriptor left, say) closes the server without a word: it listens
    // again once it can.
    auto* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, [this] {
        if (!server_->isListening()) {
            QLocalServer::removeServer(socketPath_);
            listen();
        }
    });
    watch->start(relistenIntervalMs);
}

void SingleInstance::listen() {
    if (!server_->listen(socketPath_)) {
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptPending,
            Qt::UniqueConnection);
}

void SingleInstance::acceptPending() {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        // Each client holds a descriptor: a flood of them must not take the process's last.
        if (clients_ >= maxClients) {
            client->abort();
            client->deleteLater();
            continue;
        }
        ++clients_;
        connect(client, &QObject::destroyed, this, [this] { --clients_; });
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        // A client that says nothing gives its place up.
        QTimer::singleShot(clientTimeLimitMs, client, [client] {
            client->abort();
            client->deleteLater();
        });
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            while (client->canReadLine()) {
                if (client->readLine(maxMessageBytes + 1) == showMessage) {
                    Q_EMIT showRequested();
                }
            }
            if (client->bytesAvailable() > maxMessageBytes) {
                client->abort();
                client->deleteLater();
            }
        });
    }
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
