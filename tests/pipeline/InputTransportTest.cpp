#include "pipeline/InputTransport.h"

#include <gtest/gtest.h>

using zq::InputTransport;
using zq::inputTransport;

TEST(InputTransportTest, TransportCodesMapToTheirKinds)
{
    static_assert(zq::fourCharCode("bltn") == 0x626C746E);
    static_assert(zq::fourCharCode("usb ") == 0x75736220);

    const std::pair<std::uint32_t, InputTransport> table[] = {
        {0x626C746E, InputTransport::builtIn},
        {0x75736220, InputTransport::usb},
        {0x70636920, InputTransport::usb},
        {0x7468756E, InputTransport::usb},
        {0x31333934, InputTransport::usb},
        {0x626C7565, InputTransport::bluetooth},
        {0x626C6561, InputTransport::bluetooth},
        {0x63636170, InputTransport::continuity},
        {0x63637764, InputTransport::continuity},
        {0x6363776C, InputTransport::continuity},
        {0x76697274, InputTransport::virtual_},
        {0x67727570, InputTransport::virtual_},
        {0x66677270, InputTransport::virtual_},
        {0, InputTransport::other},
        {zq::fourCharCode("hdmi"), InputTransport::other},
        {zq::fourCharCode("BLTN"), InputTransport::other}, // codes are case-sensitive
        {0x6E746C62, InputTransport::other},               // "bltn" read little-endian
    };
    for (const auto &[code, expected] : table)
        EXPECT_EQ(inputTransport(code), expected) << std::hex << "0x" << code;
}
