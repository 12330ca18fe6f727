// tarrow.exe: the delayed launcher's entry. Only an error while the usage text is built or shown
// gets this far; it ends the program through the last-chance report with exit code 1.
#include "LastChance.h"
#include "Tarrow.h"
#include "WinApi.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return RunMainBlock(RunTarrow);
}
