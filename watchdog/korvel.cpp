// korvel.exe: keeps its DLLs to the system folder, then opens the event set before anything else,
// claims the single-instance guard, runs the main block, and reports an error that escapes it. No
// window, no message loop, no command-line arguments.
#include "Errors.h"
#include "FKorvelEvents.h"
#include "KorvelMain.h"
#include "LastChance.h"
#include "Module.h"
#include "ScopeExit.h"
#include "SingleInstance.h"
#include "WinApi.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before the first step that can fail: even the box that reports it loads DLLs by name.
    RestrictDllSearchToSystem();
    // The five events are open before the single-instance guard is tried, so a second watchdog
    // opens and closes them too, without changing their states.
    try {
        TKorvelEvents::CreateKorvelEvents();
    } catch (const Exception& e) {
        return ReportStartupError(e.Address());
    }
    const TScopeExit releaseEvents([] { TKorvelEvents::ReleaseKorvelEvents(); });
    // Released after the last-chance report: while its box is up, this process is still the one
    // watchdog of its session. The mutex goes before the event set.
    const TScopeExit releaseInstance([] { ReleaseSingleInstance(); });

    return RunMainBlock([] {
        if (!ClaimSingleInstance(SingleInstanceName))
            return 0;
        return RunKorvel();
    });
}
