// The one place that includes <windows.h>, with the settings every unit expects. Lower-case file
// name: MinGW on Linux is case-sensitive.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Windows 7 is the oldest system korvel runs on, so no newer API may be declared. MinGW's
// _mingw.h, which every standard header pulls in first, already defines _WIN32_WINNT as Windows
// 10: only an #undef makes this target count.
#ifdef _WINDOWS_
#error "<windows.h> was included before WinApi.h: its declarations are those of Windows 10"
#endif
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#undef WINVER
#define WINVER 0x0601

#include <windows.h>
