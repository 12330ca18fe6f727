// TExecutableWatch: whether the executable korvel runs from is still the file at its path. An
// installer that upgrades or removes korvel cannot replace or delete a running executable; the
// package renames it aside first, and the path then names the new file, or none. A korvel that
// finds this ends at its next idle moment, and the logon task starts the new one.
//
// Main thread only. No polling: the main thread waits on Changed() beside its event, and asks
// Gone() only when a name in the executable's folder has changed.
#pragma once

#include <cstdint>
#include <string>

class TExecutableWatch {
public:
    // Watches path, the full path of the running executable. Never raises: where the system
    // refuses the watch, Changed() is null and Gone() stays false, and korvel runs as without it.
    explicit TExecutableWatch(const std::string& path) noexcept;
    ~TExecutableWatch();
    TExecutableWatch(const TExecutableWatch&) = delete;
    TExecutableWatch& operator=(const TExecutableWatch&) = delete;

    // A waitable handle, signalled when a file name in the executable's folder has changed; it
    // stays signalled once Gone() has said so. Null without a watch.
    void* Changed() const noexcept { return FNotification; }

    // Whether the path now names another file than the one korvel started from, or none. Asked
    // when Changed() is signalled; while the file is the same, the watch is armed again.
    bool Gone() noexcept;

private:
    struct TFileId {
        std::uint32_t Volume = 0;
        std::uint64_t Index = 0;
        bool operator==(const TFileId&) const = default;
    };
    // The identity of the file at FPath. False when it cannot be read; missing then tells a path
    // that names no file apart from a refusal that says nothing about the file.
    bool ReadId(TFileId& id, bool& missing) const noexcept;

    std::wstring FPath;
    TFileId FId;
    void* FNotification = nullptr;
    bool FGone = false;
};
