#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// Finding a running program's window by its title. Each window registers a local server named
// after its title (an InstanceServer); a later start asks the server named after the title it
// looks for to bring its window forward. Servers are private to the user and live in the user's
// runtime folder.

namespace desktop {

class InstanceServer : public QObject {
    Q_OBJECT
public:
    explicit InstanceServer(const QString& title, QObject* parent = nullptr);
    ~InstanceServer() override;

    // False when another running window already holds the title, or the server could not start;
    // the window then simply cannot be found by a later start.
    bool isListening() const;
    QString serverName() const;

signals:
    // A later start asks this window to come forward.
    void activationRequested();

private:
    void acceptConnections();

    QLocalServer* m_server;
};

// Asks the window registered under title to come forward. True when such a window exists and
// the request was handed to it; false at once when none is registered.
bool bringForwardWindow(const QString& title);

// The server name for a window title: a fixed-length name in the runtime folder, whatever
// characters the title holds.
QString instanceServerName(const QString& title);

// Moves the servers of this process to another folder (for tests; empty restores the default).
void setInstanceFolderForTesting(const QString& folder);

} // namespace desktop
