// Pellory's command line, and the program itself started with it.

#include "discovery/DiscoveryApp.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

std::optional<DiscoveryApp::Settings> parseArguments(const QStringList& arguments, int& exitStatus) {
    exitStatus = -1;
    return DiscoveryApp::parseArguments(QStringList{QStringLiteral("pellory")} + arguments, exitStatus);
}

} // namespace

TEST(DiscoveryApp, WithoutArgumentsItBroadcastsOnTheDiscoveryPortWithAddHidden) {
    int status = 0;
    const auto settings = parseArguments({}, status);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->window.engine.destinationAddress, 0xFFFFFFFFu);
    EXPECT_EQ(settings->window.engine.destinationPort, 5050);
    EXPECT_EQ(settings->window.engine.boundPort, 5050);
    EXPECT_EQ(settings->window.engine.loginWait, std::chrono::milliseconds(10000));
    EXPECT_FALSE(settings->window.showAddButton);
    EXPECT_TRUE(settings->dataFile.empty());
}

TEST(DiscoveryApp, OptionsSetTheAddButtonDataFileDestinationAndLocalPort) {
    int status = 0;
    auto settings = parseArguments(
        {"--register", "--data-file", "/tmp/d.xml", "--destination", "127.0.0.1:6000", "--local-port", "0"},
        status);
    ASSERT_TRUE(settings);
    EXPECT_TRUE(settings->window.showAddButton);
    EXPECT_EQ(settings->dataFile, "/tmp/d.xml");
    EXPECT_EQ(settings->window.engine.destinationAddress, 0x7F000001u);
    EXPECT_EQ(settings->window.engine.destinationPort, 6000);
    EXPECT_EQ(settings->window.engine.boundPort, 0);

    settings = parseArguments({"--destination", "10.1.2.3"}, status);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->window.engine.destinationAddress, 0x0A010203u);
    EXPECT_EQ(settings->window.engine.destinationPort, 5050);
}

TEST(DiscoveryApp, BadArgumentsAreRefusedWithStatusTwo) {
    const QStringList bad[] = {
        {"--destination", "127.0.0"},
        {"--destination", "127.0.0.1:0"},
        {"--destination", "127.0.0.1:65536"},
        {"--destination", "host:5050"},
        {"--local-port", "65536"},
        {"--local-port", "-1"},
        {"--nonsense"},
        {"stray"},
    };
    for (const QStringList& arguments : bad) {
        int status = 0;
        EXPECT_FALSE(parseArguments(arguments, status)) << arguments.join(u' ').toStdString();
        EXPECT_EQ(status, 2) << arguments.join(u' ').toStdString();
    }
}

TEST(DiscoveryApp, ProgramAnswersHelpAndRefusesABadOption) {
    QProcess program;
    program.start(QStringLiteral(KST_BIN_DIR "/pellory"), {QStringLiteral("--help")});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    const QByteArray help = program.readAllStandardOutput();
    EXPECT_TRUE(help.contains("--register")) << help.toStdString();
    EXPECT_TRUE(help.contains("--destination"));

    program.start(QStringLiteral(KST_BIN_DIR "/pellory"),
                  {QStringLiteral("--local-port"), QStringLiteral("x")});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_TRUE(program.readAllStandardError().contains("--local-port"));
}
