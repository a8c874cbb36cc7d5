#include "desktop/SingleInstance.h"

#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

const QString kLookedFor = QStringLiteral("DVR Upgrade Tool Ver1.11");
const QString kOwnTitle = QStringLiteral("Upgrade Tool Ver1.17");

class SingleInstanceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        setInstanceFolderForTesting(m_dir.path());
    }
    void TearDown() override { setInstanceFolderForTesting(QString()); }

    QTemporaryDir m_dir;
};

// Leaves a server file behind as a program that was killed does: bound, then closed, never
// removed, so connecting to it is refused.
void leaveStaleServerFile(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    ASSERT_LT(static_cast<std::size_t>(bytes.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path));
}

} // namespace

TEST_F(SingleInstanceTest, LookupFindsOnlyTheWindowWithThatTitle) {
    InstanceServer looked(kLookedFor);
    InstanceServer own(kOwnTitle);
    ASSERT_TRUE(looked.isListening());
    ASSERT_TRUE(own.isListening());
    QSignalSpy lookedSpy(&looked, &InstanceServer::activationRequested);
    QSignalSpy ownSpy(&own, &InstanceServer::activationRequested);

    EXPECT_TRUE(bringForwardWindow(kLookedFor));
    ASSERT_TRUE(lookedSpy.wait(5000));
    EXPECT_EQ(lookedSpy.count(), 1);
    EXPECT_EQ(ownSpy.count(), 0);
}

TEST_F(SingleInstanceTest, NoWindowWithThatTitleIsNotFound) {
    InstanceServer own(kOwnTitle);
    EXPECT_FALSE(bringForwardWindow(kLookedFor));
    EXPECT_FALSE(bringForwardWindow(QString()));
}

TEST_F(SingleInstanceTest, ServerLeftByAKilledProgramIsTakenOver) {
    leaveStaleServerFile(instanceServerName(kLookedFor));
    EXPECT_FALSE(bringForwardWindow(kLookedFor));

    InstanceServer server(kLookedFor);
    ASSERT_TRUE(server.isListening());
    QSignalSpy spy(&server, &InstanceServer::activationRequested);
    EXPECT_TRUE(bringForwardWindow(kLookedFor));
    EXPECT_TRUE(spy.wait(5000));
}

TEST_F(SingleInstanceTest, SecondWindowWithTheSameTitleLeavesTheFirstFindable) {
    InstanceServer first(kOwnTitle);
    InstanceServer second(kOwnTitle);
    EXPECT_TRUE(first.isListening());
    EXPECT_FALSE(second.isListening());
    QSignalSpy spy(&first, &InstanceServer::activationRequested);
    EXPECT_TRUE(bringForwardWindow(kOwnTitle));
    EXPECT_TRUE(spy.wait(5000));
}

TEST_F(SingleInstanceTest, ServerNamesAreFixedLengthWhateverTheTitle) {
    const QString odd = instanceServerName(QStringLiteral("a/../b \u00e9") + QString(300, u'x'));
    EXPECT_EQ(odd.size(), instanceServerName(kLookedFor).size());
    EXPECT_TRUE(odd.startsWith(m_dir.path() + u'/'));
    EXPECT_NE(instanceServerName(kLookedFor), instanceServerName(kOwnTitle));

    InstanceServer server(QStringLiteral("a/../b"));
    EXPECT_TRUE(server.isListening());
    EXPECT_TRUE(QFile::exists(server.serverName()));
}

TEST_F(SingleInstanceTest, GarbageFromAClientIsIgnored) {
    InstanceServer server(kLookedFor);
    QSignalSpy spy(&server, &InstanceServer::activationRequested);
    QLocalSocket client;
    client.connectToServer(server.serverName());
    ASSERT_TRUE(client.waitForConnected(1000));
    client.write(QByteArray(200, 'x'));
    ASSERT_TRUE(client.waitForBytesWritten(1000));
    // The server drops the connection without asking the window forward.
    EXPECT_TRUE(QTest::qWaitFor([&] { return client.state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(spy.count(), 0);
}
