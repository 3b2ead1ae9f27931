// Output: how the front end prints versions, device tables, build lists, fingerprints and tokens.
#ifndef APP_OUTPUT_H
#define APP_OUTPUT_H

#include <map>
#include <string>
#include <vector>

#include "Kestrelon2/common/aLink.h"
#include "app/UpdaterDisplayInterface.h"
#include "updater/Updater.h"

void _display_app_version(UpdaterDisplayInterface& display);
void _display_copyright(UpdaterDisplayInterface& display);
void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint);
void _display_jwt(UpdaterDisplayInterface& display, const std::string& text);

// Build number text to version text, printed newest version first.
void _display_builds(UpdaterDisplayInterface& display, const std::map<std::string, std::string>& builds,
                     unsigned serial);

// The discovery table; `type` picks the title and header, each row follows its own device's link type.
void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices, linkType type);

#endif
