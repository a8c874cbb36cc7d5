#include "discovery/DiscoveryApp.h"

#include "clientstore/ClientDataFile.h"
#include "discovery/DiscoveryProtocol.h"

#include "desktop/ProgramDirectory.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {

// "ADDRESS" or "ADDRESS:PORT" into the engine's destination; false when it is neither.
bool parseDestination(const QString& text, DiscoveryEngineConfig& config) {
    const qsizetype colon = text.indexOf(u':');
    const QString address = colon < 0 ? text : text.left(colon);
    const auto parsed = parseIpv4(address.toStdString());
    if (!parsed) {
        return false;
    }
    if (colon >= 0) {
        bool ok = false;
        const uint port = text.mid(colon + 1).toUInt(&ok);
        if (!ok || port == 0 || port > 65535) {
            return false;
        }
        config.destinationPort = static_cast<std::uint16_t>(port);
    }
    config.destinationAddress = *parsed;
    return true;
}

// A port number from 0 (any free port) to 65535 into the engine's bound port; false when it is none.
bool parseLocalPort(const QString& text, DiscoveryEngineConfig& config) {
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port > 65535) {
        return false;
    }
    config.boundPort = static_cast<std::uint16_t>(port);
    return true;
}

} // namespace

std::optional<DiscoveryApp::Settings> DiscoveryApp::parseArguments(const QStringList& arguments,
                                                                   int& exitStatus) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Finds recorders on the local network, changes their "
                                                    "addresses and registers them with the client."));
    // Read before the application object exists: Qt's own help option would offer Qt's options,
    // which only that object takes.
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show these options and end."));
    const QCommandLineOption registerOption(QStringLiteral("register"),
                                            QStringLiteral("Show the Add button to register a recorder."));
    const QCommandLineOption dataFileOption(
        QStringLiteral("data-file"),
        QStringLiteral("Client data file (default: XML/Data.xml beside the program)."),
        QStringLiteral("path"));
    const QCommandLineOption destinationOption(
        QStringLiteral("destination"),
        QStringLiteral("Send requests to this address and port (default: 255.255.255.255:5050)."),
        QStringLiteral("address[:port]"));
    const QCommandLineOption localPortOption(QStringLiteral("local-port"),
                                             QStringLiteral("Receive replies on this port (default: 5050; "
                                                            "0 takes any free port)."),
                                             QStringLiteral("port"));
    parser.addOptions({helpOption, registerOption, dataFileOption, destinationOption, localPortOption});

    const QString usage =
        parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("pellory"));
    const auto refuse = [&](const QString& why) -> std::optional<Settings> {
        std::fprintf(stderr, "pellory: %s\n%s", qPrintable(why), qPrintable(usage));
        exitStatus = 2;
        return std::nullopt;
    };
    if (!parser.parse(arguments)) {
        return refuse(parser.errorText());
    }
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(usage), stdout);
        exitStatus = 0;
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return refuse(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    }

    Settings settings;
    settings.window.showAddButton = parser.isSet(registerOption);
    settings.dataFile = parser.value(dataFileOption).toStdString();
    if (parser.isSet(destinationOption) &&
        !parseDestination(parser.value(destinationOption), settings.window.engine)) {
        return refuse(QStringLiteral("--destination '%1' is not an IPv4 address with an optional port")
                          .arg(parser.value(destinationOption)));
    }
    if (parser.isSet(localPortOption) &&
        !parseLocalPort(parser.value(localPortOption), settings.window.engine)) {
        return refuse(
            QStringLiteral("--local-port '%1' is not a port number").arg(parser.value(localPortOption)));
    }
    return settings;
}

int DiscoveryApp::run(const Settings& settings) {
    ClientDataFile::setPath(settings.dataFile.empty() ? desktop::programDirectory() + kDataFile
                                                      : settings.dataFile);
    DiscoveryDialog dialog(settings.window);
    dialog.doModal();
    // The program ends with its window; no message loop follows.
    return 0;
}
