#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace kestro {

// One Kestro per user session: the first start holds a lock and listens on a local socket in the
// user's runtime folder; a later start finds the lock taken, asks the first to show its main
// window and leaves. Two instances would both answer every double tap of Control.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    // Clients served at once; later ones are dropped until one goes.
    static constexpr int maxClients = 16;
    // A client that has not said what it wants by then is dropped.
    static constexpr int clientTimeLimitMs = 5000;
    // How soon a server closed by a failed accept listens again.
    static constexpr int relistenIntervalMs = 1000;

    // `folder` holds the lock and the socket; empty means runtimeFolder().
    explicit SingleInstance(QString folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the one instance (and listens for later starts).
    bool isPrimary() const { return primary_; }
    // From a later start: asks the running instance to show its main window. False when no
    // instance answered within `timeoutMs`.
    bool askPrimaryToShow(int timeoutMs = 3000);

    // $XDG_RUNTIME_DIR when it is ours and closed to others; otherwise a folder of the user's
    // own, private to them (see privateFolder), in the temporary folder, or in the user's cache
    // folder when someone else holds that name. Empty when there is none.
    static QString runtimeFolder();
    // `path` once it is a folder (created when missing, mode 0700) that is not a link, belongs
    // to this user and is open to no one else (a wider mode is narrowed); empty otherwise.
    static QString privateFolder(const QString& path);

signals:
    void showRequested();

private:
    void listen();
    void acceptPending();

    QString socketPath_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
    bool primary_ = false;
    int clients_ = 0;
};

} // namespace kestro
