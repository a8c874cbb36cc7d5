// The check a recorder's new address, subnet mask and default gateway pass before the modify-IP
// request goes out, shared by the Modify IP dialog and pellory-cli set-ip. Only 0 (a blank box,
// 0.0.0.0) is refused: anything else goes to the recorder, which judges it.
#pragma once

#include <cstdint>
#include <optional>

enum class NewAddressField { Address, Mask, Gateway };

struct NewAddressRefusal {
    NewAddressField field;
    const char* text; // "Device IP address is invalid!", ...
};

// The first of address, mask and gateway (in that order) that is 0, or nullopt when all are set.
// Addresses are numbers with the first dotted octet in the high byte.
std::optional<NewAddressRefusal> checkNewAddresses(std::uint32_t address, std::uint32_t mask,
                                                   std::uint32_t gateway);
