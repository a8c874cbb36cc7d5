#pragma once

#include "discovery/DiscoveryDialog.h"

#include <QStringList>

#include <optional>
#include <string>

class QApplication;

// The program: reads its command line, runs the main window modally and ends when it closes.
//
// Command line (all optional; a technician starts the program without any):
//   --register               shows the Add button, which registers the selected recorder
//   --data-file PATH         the client data file instead of XML/Data.xml beside the program
//   --destination ADDR[:PORT] where requests go instead of 255.255.255.255:5050 (a simulated
//                            recorder on this machine, or one recorder's own address)
//   --local-port PORT        the port replies arrive on instead of 5050 (0: any free port)
class DiscoveryApp {
public:
    // The client data file below the program's directory.
    static constexpr const char* kDataFile = "XML/Data.xml";

    struct Settings {
        DiscoveryDialog::Options window;
        // Empty: the program's directory followed by kDataFile.
        std::string dataFile;
    };

    // Reads the arguments (the program's name first). On a bad argument or --help, gives nullopt
    // and the exit status in exitStatus, after printing why or the usage.
    static std::optional<Settings> parseArguments(const QStringList& arguments, int& exitStatus);

    // Runs the main window until it closes; the program's exit status.
    static int run(const Settings& settings);
};
