// The one place that includes <windows.h>, with the settings every unit expects. Lower-case file
// name: MinGW on Linux is case-sensitive.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601 // Windows 7: GetTickCount64, QueryFullProcessImageNameA
#endif

#include <windows.h>
