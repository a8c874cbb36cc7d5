#pragma once
// How the simulated recorder reads a message of the upgrade tool: the fields as the protocol
// library decodes them, plus every way the message breaks the layout, so that a fault in the
// tool's encoders shows up in the recorder's verdict instead of passing unseen.

#include "upgrade/UpgradeProtocol.h"

#include <cstdint>
#include <span>
#include <string>

namespace sim {

struct CheckedRequest {
    RequestEvent event;
    uint8_t command = 0;
    // The first way the message breaks the layout; empty when it is well formed.
    std::string fault;
};

// message is one whole message: the 32-byte header and the payload its header announces.
CheckedRequest checkRequest(std::span<const uint8_t> message);

// "BIOS", "web", ... for summary lines and file names; "kind N" for anything else.
std::string kindName(uint8_t kind);

} // namespace sim
