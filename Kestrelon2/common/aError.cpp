// aError: the name and description texts of the library-wide result codes.
#include "Kestrelon2/common/aError.h"

#include <cstddef>
#include <iterator>

static constexpr const char* sErrorTexts[] = {
    "aErrNone",
    "aErrMemory",
    "aErrParam",
    "aErrNotFound",
    "aErrFileNameLength",
    "aErrBusy",
    "aErrIO",
    "aErrMode",
    "aErrWrite",
    "aErrRead",
    "aErrEOF",
    "aErrNotReady",
    "aErrPermission",
    "aErrRange",
    "aErrSize",
    "aErrOverrun",
    "aErrParse",
    "aErrConfiguration",
    "aErrTimeout",
    "aErrInitialization",
    "aErrVersion",
    "aErrUnimplemented",
    "aErrDuplicate",
    "aErrCancel",
    "aErrPacket",
    "aErrConnection",
    "aErrIndexRange",
    "aErrShortCommand",
    "aErrInvalidEntity",
    "aErrInvalidOption",
    "aErrResource",
    "aErrMedia",
    "aErrAsyncReturn",
    "aErrStreamStale",
    "aErrUnknown",
};

static constexpr const char* sErrorDescriptions[] = {
    "Success, no error",
    "Memory allocation",
    "Invalid parameter",
    "Not found",
    "File name too long",
    "Resource busy",
    "Input/Output error",
    "Invalid Mode",
    "Write error",
    "Read error",
    "End of file",
    "Not ready, no bytes available",
    "Insufficient permissions",
    "Value out of range",
    "Invalid Size",
    "Buffer/queue overrun",
    "Parse error",
    "Configuration error",
    "Timeout occurred",
    "Initialization error",
    "Invalid version",
    "Functionality unimplemented",
    "Duplicate request",
    "Cancellation occurred, or did not complete",
    "Packet byte invalid",
    "Connection error",
    "Index out of range",
    "Kestrelon command to short",
    "Invalid entity error",
    "Invalid option code",
    "Resource unavailable",
    "Media error",
    "Asynchronous return error",
    "Stream value is stale",
    "Unknown error",
};

static constexpr size_t sErrorCount = aErrUnknown + 1;
static_assert(std::size(sErrorTexts) == sErrorCount, "one name per code");
static_assert(std::size(sErrorDescriptions) == sErrorCount, "one description per code");

// Codes arrive from modules and from callers as plain numbers; anything past the table is
// read as aErrUnknown rather than indexing beyond it.
static size_t sTableIndex(uint32_t code)
{
    return code < sErrorCount ? code : aErrUnknown;
}

const char* aError_GetErrorText(uint32_t code)
{
    return sErrorTexts[sTableIndex(code)];
}

const char* aError_GetErrorDescription(uint32_t code)
{
    return sErrorDescriptions[sTableIndex(code)];
}
