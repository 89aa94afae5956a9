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
    // `folder` holds the lock and the socket; empty means $XDG_RUNTIME_DIR (or the temporary
    // folder when unset).
    explicit SingleInstance(QString folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the one instance (and listens for later starts).
    bool isPrimary() const { return primary_; }
    // From a later start: asks the running instance to show its main window. False when no
    // instance answered within `timeoutMs`.
    bool askPrimaryToShow(int timeoutMs = 3000);

signals:
    void showRequested();

private:
    QString socketPath_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
    bool primary_ = false;
};

} // namespace kestro
