// tarrow: waits the seconds given as its first argument, then hands the program of the second
// argument, with the third as its parameters, to the Windows shell. Usage and errors go to a plain
// message box. Everything here runs on the program's one thread.
#pragma once

#include "Clock.h"

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr const char* TarrowCaption = "A tool delaying the execution of a program.";
inline constexpr const char* BadDelayMessage =
    "The interval must be a positive integer number of seconds.";

// The longest part slept in one call: the longest exact delay, 4294967 seconds. A longer delay is
// slept in several such parts (and one rest), so the whole requested time passes.
inline constexpr std::uint32_t LongestSleep = 4294967000u;

// Shows text in a message box with the caption above and only an OK button; returns when the user
// has closed it. The box's result, failure included, is ignored.
void ShowMessageBox(const std::string& text);

// The usage text with toolName (the executable's name without its extension) in both places.
std::string UsageText(std::string_view toolName);

// Shows the usage text for the present name of the running executable. Raises EOSError when that
// name cannot be read.
void ShowUsage();

// Converts the delay argument and sleeps it on clock. Raises Exception with BadDelayMessage, before
// sleeping anything, when the value is below 1 or the text is no integer.
void Delay(const std::string& argument, TClock& clock = SystemClock());

// The main block on the process's own command line. Gives the exit code (0). Errors of the delay
// and the launch are shown and swallowed; an error while the usage is built or shown escapes.
int RunTarrow();
