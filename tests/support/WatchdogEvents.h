// The watchdog's view of the five events, for tests: each role with its name from the tests' own
// table, their states as one string, a fixture that leaves every event unset for whatever test
// runs next; and the log read back without timestamps.
#pragma once

#include "FKorvelEvents.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

struct TEventRole {
    const char* Name;
    TEvent& (TKorvelEvents::*Get)() noexcept;
};

// MainThread, MainThreadBusy, Startup, Shutdown, CallStream: the order of the set.
extern const TEventRole EventRoles[5];

// One character per role, in that order: '1' set, '0' not set, '?' the wait failed.
std::string WatchdogStates(TKorvelEvents& events);
std::string WatchdogStates();

// Resets the five events of the process-wide set.
void ResetWatchdogEvents();

// Opens the process-wide set for one test and leaves the events unset before and after it: they
// are global to the Wine prefix, as to a logon session.
class TWatchdogEventsTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// The complete lines of the log at logPath without their leading "yyyy-mm-dd hh:nn:ss "
// timestamps; none while the file does not exist.
std::vector<std::string> LogLines(const std::string& logPath);
// Waits up to timeoutMs until the log holds line at least occurrence times.
bool WaitForLogLine(const std::string& logPath, const std::string& line, std::uint32_t timeoutMs,
                    std::size_t occurrence = 1);
