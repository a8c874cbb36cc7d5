// recorder-sim: plays one or more recorders on this machine until SIGINT or SIGTERM.

#include "simulator/RecorderSim.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>

int main(int argc, char** argv) {
    sim::CommandLine command = sim::parseCommandLine(argc, argv, std::cout, std::cerr);
    if (!command.options)
        return command.exitStatus;

    // Blocked before any thread exists, so that the signals reach only the descriptor below
    // and the simulator can finish what it is doing instead of dying mid-write.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (stopFd < 0) {
        std::fprintf(stderr, "recorder-sim: cannot watch for SIGINT and SIGTERM: %s\n", std::strerror(errno));
        return 1;
    }

    // A technician's run may receive files of hundreds of megabytes: only packages are held
    // for their check; --save-dir keeps the rest.
    command.options->upgrade.keepData = false;
    command.options->print = [](const std::string& line) {
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    };
    sim::RecorderSim sim(std::move(*command.options));
    try {
        sim.open();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "recorder-sim: %s\n", e.what());
        return 1;
    }
    std::fprintf(stdout, "%s\n", sim.readyLine().c_str());
    std::fflush(stdout);
    sim.run(stopFd);
    sim.stop();
    ::close(stopFd);
    std::fprintf(stdout, "recorder-sim stopped\n");
    return 0;
}
