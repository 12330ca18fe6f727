#include "LaunchGate.h"

TLaunchGate LaunchGate(bool sessionEnding, bool stopAsked, bool held) noexcept {
    if (!sessionEnding)
        return TLaunchGate::Launch;
    if (stopAsked)
        return TLaunchGate::Stop;
    return held ? TLaunchGate::Wait : TLaunchGate::Hold;
}

TRestartGate RestartGate(bool sessionEnding, bool held) noexcept {
    if (!sessionEnding)
        return TRestartGate::Restart;
    return held ? TRestartGate::Wait : TRestartGate::Hold;
}
