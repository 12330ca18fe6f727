// DesktopKeeper: holds the Wine desktop of a test prefix open while the suite runs. Wine ends a
// desktop a few seconds after its last user has gone and starts it again for the next one, as a
// child of that process: the new desktop process then keeps that test's output pipe open, and ctest
// waits for it long after the test has ended (minutes, seen on a fresh prefix). tools/winebed.sh
// starts one per prefix with its output away from ctest's; the prefix's wineserver ends it.
#include "WinApi.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Any use of the desktop makes this process one of its users.
    GetDesktopWindow();
    Sleep(INFINITE);
    return 0;
}
