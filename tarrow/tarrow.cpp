// tarrow.exe: the delayed launcher's entry. Only an error while the usage text is built or shown
// gets this far; it ends the program through the last-chance report with exit code 1.
#include "LastChance.h"
#include "Module.h"
#include "Tarrow.h"
#include "WinApi.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before the shell call and the boxes, which load DLLs by name.
    RestrictDllSearchToSystem();
    return RunMainBlock(RunTarrow);
}
