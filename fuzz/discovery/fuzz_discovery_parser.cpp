// Feeds arbitrary bytes to everything that reads a received datagram: the tool's parser (as
// one datagram, then cut into several so that state carries over between them) and the
// recorder-side request readers.
#include "discovery/DiscoveryProtocol.h"

#include <cstddef>
#include <cstdint>

namespace {

void requireProperty(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

void parseOne(DiscoveryParser& parser, const std::uint8_t* data, std::size_t size) {
    DeviceNetRecord record;
    const ParseOutcome outcome = parser.parse(data, size, record);
    requireProperty(parser.identity().size() <= DeviceIdentity::kMaxSize);
    requireProperty(parser.identity().macText().size() <= DeviceIdentity::kMacTextSize);
    if (outcome == ParseOutcome::DeviceFound) {
        requireProperty(size == DiscoveryHeader::kSize + DeviceNetRecord::kSize + parser.identity().size() ||
                        !parser.lastReplyHadIdentity());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DiscoveryParser whole;
    parseOne(whole, data, size);

    // The same bytes as a run of datagrams, each preceded by a one-byte length.
    DiscoveryParser sequence;
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t length = data[pos++];
        const std::size_t take = length < size - pos ? length : size - pos;
        parseOne(sequence, data + pos, take);
        pos += take;
    }

    const ByteView bytes(data, size);
    (void)isSearchRequest(bytes);
    (void)DiscoveryHeader::decode(bytes);
    if (const auto login = readLoginRequest(bytes)) {
        requireProperty(login->userName.size() + login->password.size() <= size);
    }
    if (const auto modify = readModifyIpRequest(bytes)) {
        requireProperty(buildModifyIp(modify->record, modify->identity).size() == size);
    }
    return 0;
}
