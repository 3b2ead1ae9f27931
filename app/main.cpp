// main: start-up of the Updater: parse the command line, find the store, then hand the run to the commands.
#include <cstdio>
#include <string>

#include "Kestrelon2/common/aDirectory.h"
#include "app/CLI_Display.h"
#include "app/Commands.h"
#include "app/Log.h"
#include "app/Output.h"
#include "app/Parameters.h"
#include "app/Usage.h"
#include "updater/Updater.h"
#include "updater/UpdaterStore.h"

namespace {

// The store root is the base directory (from "-i", else HOME/.tessmark) joined with "updater".
bool _resolve_store_directory(Parameters& params, UpdaterDisplayInterface& display)
{
    if (params.storeDirectory.empty()) {
        char home[2048];
        const aErr err = aDirectory_GetHomeDirectory(home, sizeof(home));
        if (err != aErrNone) {
            Log::log(DEBUG_APP, "Updater: FailedaDirectory_GetHomeDirectory()==> %d\n", static_cast<int>(err));
            return false;
        }
        params.storeDirectory = BuildPath(home, ".tessmark", nullptr);
    }
    params.storeDirectory = BuildPath(params.storeDirectory.c_str(), "updater", nullptr);
    if (aDirectory_Ensure(params.storeDirectory.c_str(), 0755) != aErrNone) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Could not find updater directory at %s",
                        params.storeDirectory.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Parameters params;
    CLI_Display display;
    Log::SetOutput(stderr);

    if (_get_params(display, argc, argv, &params) != 0) {
        _display_app_version(display);
        _display_copyright(display);
        _display_usage(false, false);
        return 1;
    }

    _display_app_version(display);
    if (params.commands.IsSet(COMMAND_HELP) || !params.commands.IsSet(COMMANDS_ANY)) {
        _display_copyright(display);
        _display_usage(params.debugMaskGiven, params.helpRequested);
        return 0;
    }

    if (!_resolve_store_directory(params, display)) {
        return 1;
    }

    Updater updater(params.serverUrl.c_str(), params.storeDirectory.c_str(), display);
    return _run_commands(params, updater, display);
}
