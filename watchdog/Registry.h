// Values of the registry, always in its 64-bit view (a 32-bit build would otherwise see another
// HKEY_LOCAL_MACHINE\Software than the package writes). Keys are named by their root and a path;
// names in UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class TRegistryRoot : std::uint8_t { LocalMachine, CurrentUser };

// The text of a REG_SZ value; nothing when the key or the value is missing, or of another type.
std::optional<std::string> ReadRegistryText(TRegistryRoot root, const std::string& key,
                                            const std::string& name);

// A REG_DWORD value; nothing when the key or the value is missing, or of another type.
std::optional<std::uint32_t> ReadRegistryNumber(TRegistryRoot root, const std::string& key,
                                                const std::string& name);

// Writes a REG_DWORD value, creating the key (kept across restarts) when missing. Raises EOSError
// when the registry refuses.
void WriteRegistryNumber(TRegistryRoot root, const std::string& key, const std::string& name,
                         std::uint32_t value);
