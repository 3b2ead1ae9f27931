// Tests of link specifier records.
#include "Kestrelon2/common/aLink.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ALinkSpec, CreateCopyDestroy)
{
    linkSpec* spec = aLinkSpec_Create(kLinkTypeSerial);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->type, kLinkTypeSerial);
    spec->serialNumber = 0x40F5849A;
    spec->baudRate = 115200;
    std::strcpy(spec->portName, "/dev/ttyUSB0");
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(spec);
    for (size_t i = 28 + sizeof("/dev/ttyUSB0"); i < sizeof(linkSpec); ++i) {
        ASSERT_EQ(bytes[i], 0) << i;
    }

    linkSpec* copy = aLinkSpec_Copy(*spec);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::memcmp(copy, spec, sizeof(linkSpec)), 0);

    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrNone);
    EXPECT_EQ(spec, nullptr);
    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrParam);
    EXPECT_EQ(aLinkSpec_Destroy(nullptr), aErrParam);
    EXPECT_EQ(aLinkSpec_Destroy(&copy), aErrNone);
}

TEST(ALinkSpec, PortNameOverlaysThePort)
{
    linkSpec spec{};
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&spec.ipAddress) - reinterpret_cast<uint8_t*>(&spec), 24);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&spec.baudRate) - reinterpret_cast<uint8_t*>(&spec), 24);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&spec.ipPort) - reinterpret_cast<uint8_t*>(&spec), 28);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(spec.portName) - reinterpret_cast<uint8_t*>(&spec), 28);
}

} // namespace
