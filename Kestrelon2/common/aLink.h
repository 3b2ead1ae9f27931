// aLink: the transports a link can run over and the link specifier that names one module on one of them.
#ifndef KESTRELON2_COMMON_ALINK_H
#define KESTRELON2_COMMON_ALINK_H

#include <cstdint>

#include "Kestrelon2/common/aError.h"

typedef enum linkType : uint32_t {
    kLinkTypeInvalid = 0,
    kLinkTypeUSB = 1,
    kLinkTypeTCPIP = 2,
    kLinkTypeSerial = 3,
    kLinkTypeNexus = 4,
} linkType;

// 128 bytes, 32 words, every unused word 0. Discovery fills it, the device API connects with
// it; it is passed by value and always copied whole. Network and serial links share the tail.
typedef struct linkSpec {
    linkType type;
    uint32_t serialNumber;
    uint32_t module;
    uint32_t router;
    uint32_t routerSerialNumber;
    uint32_t model;
    union {
        struct {
            uint32_t ipAddress; // network byte order
            uint32_t ipPort;    // host byte order
        };
        struct {
            uint32_t baudRate;
            char portName[100]; // zero-terminated device path, overlays ipPort
        };
    };
} linkSpec;

static_assert(sizeof(linkSpec) == 128, "linkSpec is 32 words on every transport");

// A zeroed specifier of the given type; null when memory is short.
linkSpec* aLinkSpec_Create(linkType type);

// A heap copy of a specifier; null when memory is short.
linkSpec* aLinkSpec_Copy(linkSpec spec);

// Frees the specifier and clears the caller's pointer; aErrParam for a null pointer or record.
aErr aLinkSpec_Destroy(linkSpec** spec);

#endif
