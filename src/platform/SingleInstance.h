#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

// One running Pixaloom per user session. The first start holds a lock file in the user's
// runtime folder for its whole life and listens on a local socket beside it; a later start
// finds the lock taken, asks the running one over the socket to act, and does not start.
// A crashed instance leaves both files behind: its lock is recognised as stale by its dead
// process id, and the socket is replaced.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The name the application claims.
    static inline const QString applicationName = QStringLiteral("com.app.pixaloom");

    // What a start got: the claim, or, when another process holds the name, whether that
    // process took the request.
    struct Claim {
        std::unique_ptr<SingleInstance> instance;
        bool answered = false;
    };

    // Claims `name` for this process: while the claim lives, each later start makes it call
    // `onActivationRequest` on this thread's event loop. No instance when another process holds
    // the name; that process has then been asked to call its own request handler, or did not
    // answer within a few seconds (logged). Blocks until then; call it before the event loop
    // runs. When the runtime folder cannot be used the claim is granted without guarding
    // anything (logged), so the application still starts.
    static Claim claim(const QString& name, std::function<void()> onActivationRequest);
    ~SingleInstance() override;

    // The socket the holder of `name` listens on: in $XDG_RUNTIME_DIR, or Qt's per-user
    // fallback under the temporary folder.
    static QString socketPath(const QString& name);
    static QString lockPath(const QString& name);

private:
    SingleInstance(std::unique_ptr<QLockFile> lock, std::function<void()> onActivationRequest);
    bool listen(const QString& path);
    void acceptConnections();
    void readRequest(QLocalSocket* connection);

    std::unique_ptr<QLockFile> lock;
    std::function<void()> onActivationRequest;
    QLocalServer* server = nullptr;
};
