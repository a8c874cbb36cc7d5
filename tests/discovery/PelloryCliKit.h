#pragma once
// What the tests of pellory-cli share: the program's path, its endpoint options aimed at a
// recorder-sim, and small readers of what the programs printed.

#include "simulator/SimProcess.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace clitest {

inline const std::string kCli = KST_BIN_DIR "/pellory-cli";

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

inline std::string Dotted(uint32_t firstOctetFirst) {
    return std::to_string(firstOctetFirst >> 24) + "." + std::to_string(firstOctetFirst >> 16 & 255) + "." +
           std::to_string(firstOctetFirst >> 8 & 255) + "." + std::to_string(firstOctetFirst & 255);
}

inline std::string Mac(unsigned recorder) {
    char text[32];
    std::snprintf(text, sizeof text, "02:53:49:4D:%02X:%02X", recorder >> 8 & 255, recorder & 255);
    return text;
}

inline std::vector<std::string> Endpoint(const sim::SimProcess& recorder) {
    return {"--target", "127.0.0.1:" + std::to_string(recorder.udpPort()), "--bind-port", "0"};
}

inline std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline bool SimPrinted(const sim::SimProcess& recorder, const std::string& part) {
    const auto lines = recorder.lines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return Has(l, part); });
}

} // namespace clitest

using namespace clitest;
