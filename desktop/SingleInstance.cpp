#include "desktop/SingleInstance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace desktop {

namespace {

constexpr int kConnectMs = 1000;
constexpr qint64 kMaxRequest = 64;
const QByteArray kActivate = QByteArrayLiteral("activate\n");

QString& folderOverride() {
    static QString folder;
    return folder;
}

QString instanceFolder() {
    if (!folderOverride().isEmpty()) {
        return folderOverride();
    }
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

// Reads the request once it is whole; anything else is dropped with the connection.
void serveRequest(QLocalSocket* socket, InstanceServer* server) {
    if (socket->bytesAvailable() > kMaxRequest) {
        socket->abort();
        return;
    }
    if (!socket->canReadLine()) {
        return;
    }
    if (socket->readLine(kMaxRequest + 1) == kActivate) {
        emit server->activationRequested();
    }
    socket->disconnectFromServer();
}

} // namespace

QString instanceServerName(const QString& title) {
    const QByteArray digest = QCryptographicHash::hash(title.toUtf8(), QCryptographicHash::Sha1).toHex();
    return instanceFolder() + QStringLiteral("/zantrel-window-") + QString::fromLatin1(digest);
}

void setInstanceFolderForTesting(const QString& folder) {
    folderOverride() = folder;
}

InstanceServer::InstanceServer(const QString& title, QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)) {
    const QString name = instanceServerName(title);
    // Listening with access options replaces any file of that name, so a window still running
    // under the title is asked first; it keeps the name. A file left by a program that ended
    // without closing its server does not answer and is replaced.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(kConnectMs)) {
        probe.abort();
        return;
    }
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(name);
    m_server->listen(name);
    connect(m_server, &QLocalServer::newConnection, this, &InstanceServer::acceptConnections);
}

InstanceServer::~InstanceServer() {
    m_server->close();
}

bool InstanceServer::isListening() const {
    return m_server->isListening();
}

QString InstanceServer::serverName() const {
    return m_server->fullServerName();
}

void InstanceServer::acceptConnections() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [socket, this] { serveRequest(socket, this); });
        serveRequest(socket, this);
    }
}

bool bringForwardWindow(const QString& title) {
    QLocalSocket socket;
    socket.connectToServer(instanceServerName(title));
    if (!socket.waitForConnected(kConnectMs)) {
        return false;
    }
    socket.write(kActivate);
    const bool sent = socket.waitForBytesWritten(kConnectMs) || socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    return sent;
}

} // namespace desktop
