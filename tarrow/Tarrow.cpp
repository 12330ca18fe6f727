#include "Tarrow.h"

#include "CommandLine.h"
#include "Errors.h"
#include "ExecExtern.h"
#include "IntText.h"
#include "Module.h"
#include "PathText.h"
#include "Unicode.h"
#include "WinApi.h"

void ShowMessageBox(const std::string& text) {
    MessageBoxW(nullptr, Utf8ToUtf16(text).c_str(), Utf8ToUtf16(TarrowCaption).c_str(), MB_OK);
}

std::string UsageText(std::string_view toolName) {
    const std::string name(toolName);
    return "Usage: " + name + " <delay in seconds> [<program to run> [\"<parameters>\"]]\r\n" +
           "\r\n" + "Example: " + name + " 5 cmd \"/k dir C:\\ /a\"\r\n" +
           "shows the contents of the root directory after 5 seconds.";
}

void ShowUsage() {
    // The file's present name, not the one typed: a renamed copy shows its own name.
    const std::string path = ModuleFileName();
    ShowMessageBox(UsageText(StripExtension(ExtractFileName(path))));
}

void Delay(const std::string& argument, TClock& clock) {
    const std::int32_t seconds = TryStrToDelay(argument).value_or(0);
    if (seconds < 1)
        throw Exception(BadDelayMessage);
    // Sleep takes 32-bit milliseconds (and 0xFFFFFFFF means for ever), so from 4294968 seconds
    // up the delay no longer fits one call: it is slept in parts, each one blocking Sleep, so the
    // whole requested time still passes.
    std::uint64_t remaining = static_cast<std::uint64_t>(seconds) * 1000u;
    while (remaining > 0) {
        const std::uint32_t part =
            remaining > LongestSleep ? LongestSleep : static_cast<std::uint32_t>(remaining);
        clock.Sleep(part);
        remaining -= part;
    }
}

int RunTarrow() {
    const TCommandLine commandLine(Utf16ToUtf8(GetCommandLineW()), NextUtf8Char);
    const int count = commandLine.ParamCount();
    if (count < 1 || count > 3) {
        ShowUsage();
        return 0;
    }
    try {
        Delay(commandLine.ParamStr(1));
        if (count >= 2)
            LaunchProgram(commandLine.ParamStr(2), commandLine.ParamStr(3), SW_SHOWNORMAL);
    } catch (const Exception& error) {
        ShowMessageBox(error.Message());
    }
    return 0;
}
