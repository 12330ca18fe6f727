// tarrow.exe: the delayed launcher's entry. Its behaviour arrives with the launcher itself.
#include "WinApi.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return 0;
}
