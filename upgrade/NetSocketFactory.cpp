#include "upgrade/NetSocketFactory.h"

namespace {

class CLibraryFactory final : public CNetSocketFactory {
public:
    bool Create(Zorvik::CNetSocketOwner* owner, Zorvik::CNetSocket** socket) override {
        return Zorvik::CreateNetSocket(owner, socket);
    }
    void Release(Zorvik::CNetSocket*& socket) override { Zorvik::ReleaseNetSocket(socket); }
};

} // namespace

CNetSocketFactory& DefaultNetSocketFactory() {
    static CLibraryFactory factory;
    return factory;
}
