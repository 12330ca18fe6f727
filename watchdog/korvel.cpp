// korvel.exe: opens the event set before anything else, runs the main block, and reports an error
// that escapes it. No window, no message loop, no command-line arguments.
#include "Errors.h"
#include "FKorvelEvents.h"
#include "KorvelMain.h"
#include "LastChance.h"
#include "SingleInstance.h"
#include "WinApi.h"

#include <exception>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Start-up: the five events are open before the single-instance guard is tried, so a second
    // watchdog opens and closes them too, without changing their states.
    try {
        TKorvelEvents::CreateKorvelEvents();
    } catch (const Exception& e) {
        return ReportStartupError(e.Address());
    }

    int exitCode = 0;
    try {
        exitCode = RunKorvel();
    } catch (const Exception& e) {
        exitCode = ReportUnhandledError(e);
    } catch (const std::exception& e) {
        exitCode = ReportUnhandledError(Exception(e.what()));
    }

    // Final clean-up in the reverse order of start-up: the mutex goes before the event set.
    ReleaseSingleInstance();
    TKorvelEvents::ReleaseKorvelEvents();
    return exitCode;
}
