// aDefs: the model codes modules report and their display names.
#ifndef KESTRELON2_COMMON_ADEFS_H
#define KESTRELON2_COMMON_ADEFS_H

#include <cstdint>

// Model codes as a module reports them (system entity, discovery replies). 6 to 12 name no
// model.
inline constexpr uint8_t aMODEL_USBHUB2X4 = 4;
inline constexpr uint8_t aMODEL_USBHUB3P = 5;
inline constexpr uint8_t aMODEL_USBHUB3C = 13;
inline constexpr uint8_t aMODEL_USBCSWITCH = 14;
inline constexpr uint8_t aMODEL_ETHERSWITCH = 15;
inline constexpr uint8_t aMODEL_POWERSWITCH = 16;
inline constexpr uint8_t aMODEL_RELAYCTRL = 17;
inline constexpr uint8_t aMODEL_MOTORCTRL = 18;
inline constexpr uint8_t aMODEL_ANALOGIO = 19;
inline constexpr uint8_t aMODEL_DIGITALIO = 20;
inline constexpr uint8_t aMODEL_SERIALBRIDGE = 21;
inline constexpr uint8_t aMODEL_I2CBRIDGE = 22;
inline constexpr uint8_t aMODEL_THERMOCTRL = 23;
inline constexpr uint8_t aMODEL_POWERMONITOR = 24;
inline constexpr uint8_t aMODEL_ETHERHUB = 25;
inline constexpr uint8_t aMODEL_USBHUB8C = 26;
inline constexpr uint8_t aMODEL_LINKROUTER = 27;

// The fixed display name of a model code, at most 12 characters; "Unknown" for any code that
// names no model. No name is the start of another, because firmware files are matched to a
// device by the start of the file's model name.
const char* aDefs_GetModelName(uint8_t model);

#endif
