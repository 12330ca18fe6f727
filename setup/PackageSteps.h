// The steps the Windows Installer package has korvel-setup.exe take, as deferred custom actions
// that run as SYSTEM (cmake/Msi.cmake schedules them). Each raises EOSError when the system
// refuses it.
#pragma once

#include <cstdint>
#include <string>

// The name the logon task is registered under, as the README's manual steps name it.
inline constexpr const char* TaskName = "Tamrix korvel";

// Before the files are installed or removed. A running korvel.exe can be neither overwritten nor
// deleted, so Windows Installer would leave it for the next restart of Windows (exit code 3010)
// and the old korvel would go on running. It can be renamed: folder\korvel.exe goes aside as
// korvel.exe.<time>.old, and a copy takes its name, which the installer then replaces, keeps or
// deletes as it sees fit. Every korvel that runs finds its executable replaced and ends at its
// next idle moment. Nothing to do when there is no korvel.exe.
void SetAside(const std::string& folder);

// At the end of the installation, and at its rollback: deletes the copies set aside; one that
// still runs goes at the next restart of Windows, or at the next installation.
void DropAside(const std::string& folder);

// Registers the logon task of the shipped XML (xml, UTF-8) for korvel.exe in folder, replacing
// one registered before, and keeps the XML registered as folder\korvel-task.xml. Gives the exit
// code of schtasks (0: registered).
std::uint32_t AddTask(const std::string& xml, const std::string& folder);

// Removes the logon task and folder\korvel-task.xml. Gives the exit code of schtasks (0: removed;
// not 0 as well when there was no task).
std::uint32_t RemoveTask(const std::string& folder);

// Gives file the protected DACL of sddl (an SDDL text): what Windows Installer's own grant does
// for a file it installs, for one it keeps (korvel.ini is never put over).
void Lock(const std::string& file, const std::string& sddl);
