// korvel.exe: the watchdog's entry. The main loop arrives with the watchdog program itself.
#include "WinApi.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return 0;
}
