// TMachineWideBed: the registry of the machine-wide layout for one test, as the package leaves it:
// the machine-wide folder value naming a folder, and the user's place (HKCU\Software\korvel)
// empty. Both go again with the object, whatever the test left. The tests that use it run one at a
// time in their prefix (serial or end to end): the values are the product's fixed names.
#pragma once

#include <string>

class TMachineWideBed {
public:
    // folder: as the package writes it, perhaps with a trailing backslash.
    explicit TMachineWideBed(const std::string& folder);
    ~TMachineWideBed();
    TMachineWideBed(const TMachineWideBed&) = delete;
    TMachineWideBed& operator=(const TMachineWideBed&) = delete;

    // Removes HKCU\Software\korvel with everything below it.
    static void ClearUserPlace();
    // The key where this process's session records Tamrix's id: Software\korvel\Sessions\<id>.
    static std::string OwnSessionKey();
};
