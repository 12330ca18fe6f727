// TUserPlace: what korvel keeps, and Tamrix records, for one user in the machine-wide layout, where
// korvel.ini is the administrators' policy and nobody else's to write. The place is in the user's
// own registry hive, HKEY_CURRENT_USER\Software\korvel:
//
//   startup_timeout                        REG_DWORD  the start-up timeout that korvel learnt
//   Sessions\<logon session id>\process_id REG_DWORD  Tamrix's process id, recorded by the kit;
//                                                     Sessions and the key below it are volatile
//
// Why the user's hive rather than a file: its keys are open to the user, SYSTEM and the
// Administrators by default, and to no other user, so nobody else can steer this user's
// supervision; there is no folder to create or to grant; a value is written whole or not at all,
// and nobody can hold it against korvel as a file can be held; and a volatile key goes when the
// hive is unloaded at the user's sign-out, or at a restart of Windows, so a process id never
// outlives the processes it could name. A key per logon session: the same user signed in twice
// runs a Tamrix in each.
//
// Threads: any; every call is one or two registry calls, nothing is cached.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class TUserPlace {
public:
    // keyPath: the place below HKEY_CURRENT_USER; another one only for tests.
    explicit TUserPlace(std::string keyPath);
    TUserPlace();

    // The learnt start-up timeout as kept, unclamped; nothing when none is kept.
    std::optional<std::uint32_t> StartupTimeout() const;
    // Raises EOSError when the registry refuses.
    void KeepStartupTimeout(std::uint32_t seconds) const;

    // The process id that Tamrix of the logon session recorded; 0 when none.
    std::uint32_t ProcessId(std::uint32_t session) const;
    // The key that holds it, below HKEY_CURRENT_USER.
    std::string SessionKey(std::uint32_t session) const;

private:
    std::string FKeyPath;
};
