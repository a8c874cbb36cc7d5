// Feeds arbitrary bytes to both decoders; they must never read past the message or crash.
#include "upgrade/UpgradeProtocol.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy so that any read past the message is caught.
    const std::vector<uint8_t> msg(data, data + size);
    const auto length = static_cast<uint32_t>(size);
    const ReplyEvent reply = DecodeReply(msg.data(), length);
    if (reply.percent != 0 && !reply.IsProgress()) {
        std::abort();
    }
    const RequestEvent request = DecodeRequest(msg.data(), length);
    if (request.payload.size() > size) {
        std::abort();
    }
    return 0;
}
