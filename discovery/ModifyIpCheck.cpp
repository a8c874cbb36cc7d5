#include "discovery/ModifyIpCheck.h"

std::optional<NewAddressRefusal> checkNewAddresses(std::uint32_t address, std::uint32_t mask,
                                                   std::uint32_t gateway) {
    const struct {
        std::uint32_t value;
        NewAddressField field;
        const char* text;
    } checks[] = {
        {address, NewAddressField::Address, "Device IP address is invalid!"},
        {mask, NewAddressField::Mask, "Device Subnet mask is invalid!"},
        {gateway, NewAddressField::Gateway, "Device Default gateway is invalid!"},
    };
    for (const auto& check : checks) {
        if (check.value == 0) {
            return NewAddressRefusal{check.field, check.text};
        }
    }
    return std::nullopt;
}
