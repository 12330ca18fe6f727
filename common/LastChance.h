// The last-chance error report of both executables: what the user sees when an error escapes the
// main block, or when the program fails before its main block runs.
//
// Code addresses are printed as their offset from the executable's image base, 8 upper-case hex
// digits: on a 64-bit build a full address need not fit 8 digits, and the offset is what the
// linker's map file lists.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class Exception;

// "Exception <class> in module <module> at <offset>.\r\n<message>[.]\r\n"; the full stop is added
// when the message does not already end with one.
std::string UnhandledErrorText(std::string_view className, std::string_view moduleName,
                               std::uint32_t codeOffset, std::string_view message);

// "Runtime error 217 at <offset>".
std::string StartupErrorText(std::uint32_t codeOffset);

// address minus the executable's image base, cut to 32 bits.
std::uint32_t ImageOffset(const void* address) noexcept;

// For a program that runs where nobody answers a box: report then gets the text the box would have
// shown, and the program ends at once. Empty, the default, shows the box. report must not raise.
// Main thread, before the error it is meant for.
void SetUnattendedReport(std::function<void(const std::string& text)> report);

// Shows the report of an error that escaped the main block in a task-modal box with an error icon,
// captioned "Application Error", and gives the exit code 1. Returns when the user closes the box
// (at once with an unattended report set); never raises.
int ReportUnhandledError(const Exception& error) noexcept;

// Runs a program's main block and gives its exit code. An error that escapes it, of the product's
// hierarchy or the standard library's (out of memory, say), ends in ReportUnhandledError and exit
// code 1, never in std::terminate.
int RunMainBlock(int (*mainBlock)());

// Shows "Runtime error 217 at ..." in a plain box captioned "Error" and gives the exit code 217.
// For failures before the main block (unit initialization). Never raises.
int ReportStartupError(const void* address) noexcept;
