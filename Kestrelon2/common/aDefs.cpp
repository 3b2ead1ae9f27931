// aDefs: display names of the module models.
#include "Kestrelon2/common/aDefs.h"

const char* aDefs_GetModelName(uint8_t model)
{
    switch (model) {
    case aMODEL_USBHUB2X4:
        return "USBHub2x4";
    case aMODEL_USBHUB3P:
        return "USBHub3p";
    case aMODEL_USBHUB3C:
        return "USBHub3c";
    case aMODEL_USBCSWITCH:
        return "USBCSwitch";
    case aMODEL_ETHERSWITCH:
        return "EtherSwitch";
    case aMODEL_POWERSWITCH:
        return "PowerSwitch";
    case aMODEL_RELAYCTRL:
        return "RelayCtrl";
    case aMODEL_MOTORCTRL:
        return "MotorCtrl";
    case aMODEL_ANALOGIO:
        return "AnalogIO";
    case aMODEL_DIGITALIO:
        return "DigitalIO";
    case aMODEL_SERIALBRIDGE:
        return "SerialBridge";
    case aMODEL_I2CBRIDGE:
        return "I2CBridge";
    case aMODEL_THERMOCTRL:
        return "ThermoCtrl";
    case aMODEL_POWERMONITOR:
        return "PowerMonitor";
    case aMODEL_ETHERHUB:
        return "EtherHub";
    case aMODEL_USBHUB8C:
        return "USBHub8c";
    case aMODEL_LINKROUTER:
        return "LinkRouter";
    default:
        return "Unknown";
    }
}
