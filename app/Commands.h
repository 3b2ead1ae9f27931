// Commands: the commands of one run, carried out in their fixed order.
#ifndef APP_COMMANDS_H
#define APP_COMMANDS_H

#include "app/Parameters.h"
#include "app/UpdaterDisplayInterface.h"
#include "updater/Updater.h"

// Runs the fingerprint, then the download, then the first of discover, update, list builds,
// list local builds and device token that was asked for. Returns the exit status, 0 or 1.
// A successful download leaves its build number in `params.build` for the update that follows.
int _run_commands(Parameters& params, Updater& updater, UpdaterDisplayInterface& display);

#endif
