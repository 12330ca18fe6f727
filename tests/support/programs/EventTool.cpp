// EventTool: another process that holds, sets or looks at named events, for the tests that need
// the events' life across processes (an event stays alive, and keeps its state, while any
// process holds it).
//
//   EventTool.exe set   <name> [<ms>]   create or open the event, set it, keep it <ms> ms
//   EventTool.exe reset <name> [<ms>]   create or open the event, reset it, keep it <ms> ms
//   EventTool.exe hold  <name> [<ms>]   create or open the event, keep it <ms> ms
//   EventTool.exe query <name>          exit 1 when the event is set, 0 when not, 2 when it
//                                       does not exist (or cannot be opened); never creates it
//
// The name "Tamrix" stands for the five events of the watchdog protocol, opened the way the
// application opens them (TKorvelLink); set and reset then apply to all five. <ms> defaults to 0.
//
// Once set, reset or hold has done its work it creates and sets "EventToolReady.<own pid>" and
// keeps it while it holds the events, so that a test knows when the events are in place.
// Exit codes of set, reset and hold: 0 done, 2 an event could not be opened, 64 usage error.
#include "EventNames.h"
#include "Handle.h"
#include "KorvelLink.h"
#include "WinApi.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int ExitUsage = 64;
constexpr int ExitCannotOpen = 2;

bool ParseMilliseconds(std::string_view text, std::uint32_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

int Query(const char* name) {
    // OpenEventA, not CreateEventA: looking must not bring a missing event into being.
    THandle event(OpenEventA(SYNCHRONIZE, FALSE, name));
    if (!event)
        return ExitCannotOpen;
    return WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0 ? 1 : 0;
}

int Run(int argc, char** argv) {
    if (argc < 3)
        return ExitUsage;
    const std::string_view command = argv[1];
    const std::string name = argv[2];
    std::uint32_t holdMs = 0;
    if (argc > 3 && !ParseMilliseconds(argv[3], holdMs))
        return ExitUsage;

    if (command == "query")
        return argc == 3 ? Query(name.c_str()) : ExitUsage;
    const bool set = command == "set";
    const bool reset = command == "reset";
    if (!set && !reset && command != "hold")
        return ExitUsage;

    std::vector<THandle> events;
    TKorvelLink* link = nullptr;
    TKorvelLink tamrix;
    if (name == "Tamrix") {
        if (!tamrix.IsOpen())
            return ExitCannotOpen;
        link = &tamrix;
    } else {
        events.emplace_back(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
        if (!events.back())
            return ExitCannotOpen;
    }

    if (link != nullptr && set) {
        link->SignalStartup();
        link->PulseMainThread();
        link->AnnounceBusy();
        link->PulseCallStream();
        // SignalShutdown resets the start; set it again so that all five end up set.
        link->SignalShutdown();
        link->SignalStartup();
    } else if (link != nullptr && reset) {
        // The link only sets; the application never resets. Open the names beside it.
        for (const char* each : TamrixEventNames) {
            THandle event(CreateEventA(nullptr, TRUE, FALSE, each));
            if (!event)
                return ExitCannotOpen;
            ResetEvent(event.Get());
        }
    } else if (set) {
        SetEvent(events.back().Get());
    } else if (reset) {
        ResetEvent(events.back().Get());
    }

    const std::string readyName = "EventToolReady." + std::to_string(GetCurrentProcessId());
    THandle ready(CreateEventA(nullptr, TRUE, TRUE, readyName.c_str()));
    Sleep(holdMs);
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The C runtime has split the command line already, for GUI programs too.
    return Run(__argc, __argv);
}
