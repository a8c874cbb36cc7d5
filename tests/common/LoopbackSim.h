#pragma once

#include "simulator/RecorderSim.h"

#include <chrono>

// Options of a simulated recorder for the tests: the upgrade side alone, on a free loopback port,
// with its verdict soon after the last end packet. Suites add what they test on top.
inline sim::SimOptions LoopbackSimOptions() {
    sim::SimOptions options;
    options.tcpPort = 0;
    options.discoverySide = false;
    options.upgrade.settle = std::chrono::milliseconds(100);
    return options;
}
