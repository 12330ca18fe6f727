// IniWrite.exe <path> <section> <key> <value>: writes one value into an INI file through the
// platform's profile function, the way Tamrix writes its process id, and exits. Exit code 0 when
// the write succeeded, 1 otherwise (wrong argument count included).
#include "WinApi.h"

int main(int argc, char** argv) {
    if (argc != 5)
        return 1;
    return WritePrivateProfileStringA(argv[2], argv[3], argv[4], argv[1]) ? 0 : 1;
}
