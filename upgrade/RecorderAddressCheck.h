// Which recorder a text names: "ADDR" or "ADDR:PORT", with a dotted IPv4 address and a port from
// 1 to 65535. One rule for every program that takes recorders from a person or a file: the
// command line's --host, and the lists the command line and the batch window read.
#pragma once

#include "upgrade/RecorderUpgrade.h"

#include <cstdint>
#include <optional>
#include <string>

struct RecorderAddressCheck {
    std::optional<RecorderAddress> address; // none when refused
    std::string refusal;                    // why, as the end of a sentence naming the text
};

// The port is `port` when the text names none. A text with both parts wrong is refused for its
// port, the part after the first colon.
RecorderAddressCheck CheckRecorderAddress(const std::string& text, uint32_t port);
