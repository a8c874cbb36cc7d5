#include "upgrade/RecorderAddressCheck.h"

#include <arpa/inet.h>

namespace {

constexpr const char* kBadPort = "the port must be a number from 1 to 65535";
constexpr const char* kBadAddress = "not a dotted IPv4 address";

std::optional<uint32_t> PortOf(const std::string& digits) {
    // Five digits at most, so that the number cannot overflow before it is compared.
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned long value = std::stoul(digits);
    if (value < 1 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

} // namespace

RecorderAddressCheck CheckRecorderAddress(const std::string& text, uint32_t port) {
    RecorderAddress recorder;
    recorder.port = port;
    const auto colon = text.find(':');
    recorder.host = text.substr(0, colon);
    if (colon != std::string::npos) {
        const auto given = PortOf(text.substr(colon + 1));
        if (!given) {
            return {std::nullopt, kBadPort};
        }
        recorder.port = *given;
    }
    in_addr address{};
    if (inet_pton(AF_INET, recorder.host.c_str(), &address) != 1) {
        return {std::nullopt, kBadAddress};
    }
    return {recorder, {}};
}
