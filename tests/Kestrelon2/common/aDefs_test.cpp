// Tests of the model display names.
#include "Kestrelon2/common/aDefs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

namespace {

const std::set<int> kModelCodes = {4, 5, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27};

TEST(ADefs, OnlyModelCodesHaveNames)
{
    for (int code = 0; code <= 0xFF; code++) {
        SCOPED_TRACE("code " + std::to_string(code));
        const std::string name = aDefs_GetModelName(static_cast<uint8_t>(code));
        if (kModelCodes.count(code) != 0) {
            EXPECT_NE(name, "Unknown");
        } else {
            EXPECT_EQ(name, "Unknown");
        }
    }
}

TEST(ADefs, NamesFitTheDeviceTableAndNeverStartAnother)
{
    // Firmware files are matched to a device by the start of their model name, so a name
    // that begins another would accept the other model's firmware.
    std::set<std::string> names;
    for (int code : kModelCodes) {
        const std::string name = aDefs_GetModelName(static_cast<uint8_t>(code));
        SCOPED_TRACE(name);
        EXPECT_FALSE(name.empty());
        EXPECT_LE(name.size(), 12u);
        EXPECT_EQ(name.find(' '), std::string::npos);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), kModelCodes.size());
    for (const std::string& a : names) {
        for (const std::string& b : names) {
            if (a != b) {
                EXPECT_NE(b.rfind(a, 0), 0u) << a << " starts " << b;
            }
        }
    }
}

TEST(ADefs, NamedCodesAreTheModelCodes)
{
    const std::set<int> named = {
        aMODEL_USBHUB2X4,   aMODEL_USBHUB3P,     aMODEL_USBHUB3C,   aMODEL_USBCSWITCH,   aMODEL_ETHERSWITCH,
        aMODEL_POWERSWITCH, aMODEL_RELAYCTRL,    aMODEL_MOTORCTRL,  aMODEL_ANALOGIO,     aMODEL_DIGITALIO,
        aMODEL_SERIALBRIDGE, aMODEL_I2CBRIDGE,   aMODEL_THERMOCTRL, aMODEL_POWERMONITOR, aMODEL_ETHERHUB,
        aMODEL_USBHUB8C,    aMODEL_LINKROUTER,
    };
    EXPECT_EQ(named, kModelCodes);
}

} // namespace
