// Tests of the result-code texts.
#include "Kestrelon2/common/aError.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

struct TextCase {
    uint32_t code;
    const char* name;
    const char* description;
};

TEST(AError, CodesReadTheirOwnTexts)
{
    // Spread over the table so that a shifted or missing row shows.
    const std::vector<TextCase> cases = {
        {aErrNone, "aErrNone", "Success, no error"},
        {aErrParam, "aErrParam", "Invalid parameter"},
        {aErrNotReady, "aErrNotReady", "Not ready, no bytes available"},
        {aErrOverrun, "aErrOverrun", "Buffer/queue overrun"},
        {aErrTimeout, "aErrTimeout", "Timeout occurred"},
        {aErrCancel, "aErrCancel", "Cancellation occurred, or did not complete"},
        {aErrPacket, "aErrPacket", "Packet byte invalid"},
        {aErrShortCommand, "aErrShortCommand", "Kestrelon command to short"},
        {aErrAsyncReturn, "aErrAsyncReturn", "Asynchronous return error"},
        {aErrStreamStale, "aErrStreamStale", "Stream value is stale"},
        {aErrUnknown, "aErrUnknown", "Unknown error"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        EXPECT_STREQ(aError_GetErrorText(c.code), c.name);
        EXPECT_STREQ(aError_GetErrorDescription(c.code), c.description);
    }
}

TEST(AError, EveryCodeHasItsOwnNameAndDescription)
{
    std::set<std::string> names;
    std::set<std::string> descriptions;
    for (uint32_t code = aErrNone; code <= aErrUnknown; code++) {
        SCOPED_TRACE("code " + std::to_string(code));
        const std::string name = aError_GetErrorText(code);
        EXPECT_EQ(name.rfind("aErr", 0), 0u) << name;
        EXPECT_FALSE(std::string(aError_GetErrorDescription(code)).empty());
        names.insert(name);
        descriptions.insert(aError_GetErrorDescription(code));
    }
    EXPECT_EQ(names.size(), 35u);
    EXPECT_EQ(descriptions.size(), 35u);
}

TEST(AError, CodesOutsideTheTableReadUnknown)
{
    const int negative = -1;
    for (uint32_t code : {35u, 36u, 255u, 1000u, 0x80000000u, 0xFFFFFFFFu, static_cast<uint32_t>(negative),
                          static_cast<uint32_t>(-35)}) {
        SCOPED_TRACE("code " + std::to_string(code));
        EXPECT_STREQ(aError_GetErrorText(code), "aErrUnknown");
        EXPECT_STREQ(aError_GetErrorDescription(code), "Unknown error");
    }
}

} // namespace
