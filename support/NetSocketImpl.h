// The socket object CreateNetSocket makes: the operations of CNetSocket over the core.
#pragma once

#include "support/NetSocketCore.h"

namespace Zorvik {

class CNetSocketImpl final : public CNetSocketCore {
public:
    using CNetSocketCore::CNetSocketCore;

    bool Connect(const char* address, int port, uint32_t limitMs) override;
    bool Attach(int socket) override;
    void Disconnect() override;
    bool IsConnected() override;
    bool Send(const void* data, uint32_t length, uint32_t limitMs, uint32_t* sent) override;
    bool JoinMulticast(const char* group, int port) override;
    void LeaveMulticast() override;
    bool IsMulticastOpen() override;
};

} // namespace Zorvik
