// Opening the two kinds of socket a socket object holds.
#pragma once

#include <cstdint>

namespace Zorvik {

// Connects a new non-blocking TCP socket to the dotted address and port within `limitMs`; the
// socket, or -1.
int ConnectWithTimeout(const char* text, int port, uint32_t limitMs);

// A UDP socket bound to `port` on every interface and joined to the multicast group; or -1.
int CreateMulticastSocket(const char* group, int port);

} // namespace Zorvik
