#pragma once

#include "support/NetSocket.h"

// Makes and gives up connection objects: CreateNetSocket and ReleaseNetSocket, unless a test puts
// something in front of them.
class CNetSocketFactory {
public:
    virtual bool Create(Zorvik::CNetSocketOwner* owner, Zorvik::CNetSocket** socket) = 0;
    virtual void Release(Zorvik::CNetSocket*& socket) = 0;

protected:
    ~CNetSocketFactory() = default;
};
CNetSocketFactory& DefaultNetSocketFactory();
