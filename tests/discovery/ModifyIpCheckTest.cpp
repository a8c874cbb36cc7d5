#include "discovery/ModifyIpCheck.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CheckNewAddresses, TheFirstZeroInTheOrderAddressMaskGatewayIsRefused) {
    constexpr std::uint32_t a = 0xC0A80114, m = 0xFFFFFF00, g = 0xC0A80101;
    using F = NewAddressField;
    const struct {
        std::uint32_t address, mask, gateway;
        F field;
        const char* text;
    } cases[] = {
        {0, m, g, F::Address, "Device IP address is invalid!"},
        {0, 0, 0, F::Address, "Device IP address is invalid!"},
        {a, 0, g, F::Mask, "Device Subnet mask is invalid!"},
        {a, 0, 0, F::Mask, "Device Subnet mask is invalid!"},
        {a, m, 0, F::Gateway, "Device Default gateway is invalid!"},
    };
    for (const auto& c : cases) {
        const auto refusal = checkNewAddresses(c.address, c.mask, c.gateway);
        ASSERT_TRUE(refusal.has_value()) << c.text;
        EXPECT_EQ(refusal->field, c.field) << c.text;
        EXPECT_EQ(std::string(refusal->text), c.text);
    }
}

TEST(CheckNewAddresses, AnythingButZeroGoesToTheRecorder) {
    // A mask with holes, a gateway outside the subnet, the broadcast address: the recorder judges.
    const std::uint32_t cases[][3] = {
        {0xC0A80114, 0xFFFFFF00, 0xC0A80101}, {0xFFFFFFFF, 0x00FF0001, 0x08080808}, {1, 1, 1}};
    for (const auto& c : cases) {
        EXPECT_FALSE(checkNewAddresses(c[0], c[1], c[2]).has_value()) << c[0] << " " << c[1] << " " << c[2];
    }
}

} // namespace
