// TIniFile: the settings file through the platform's profile functions. Caches nothing: every read
// and every write is one call on the file, so a value written by another process is seen at once.
#pragma once

#include "Clock.h"

#include <cstdint>
#include <functional>
#include <string>

// What korvel can see of the settings file at one moment without waiting for anyone. Held: another
// program has it open for writing, or without sharing it for reading; a profile read then may meet
// half a saved file and answer with defaults that korvel would write back over the user's values.
// Size and WriteTime tell a read that a writer came and went while it ran.
struct TIniFileProbe {
    bool Held = false;
    bool Exists = false;
    std::uint64_t Size = 0;
    std::uint64_t WriteTime = 0;
    bool operator==(const TIniFileProbe&) const = default;
};

// Opens the file for reading, sharing it for reading only, for as long as it takes to read its size
// and time: any writer's open refuses it. The open keeps a writer that arrives in those
// microseconds out, as every program that opens the file does, so a writer that must not fail
// retries (the kit's RecordProcessId does).
TIniFileProbe ProbeIniFile(const std::string& fileName);

// How a read or a write looks at the file before its profile call (and a read after it too).
using TIniFileLook = std::function<TIniFileProbe(const std::string& fileName)>;

class TIniFile {
public:
    // Stores the path; touches no file. clock supplies the pauses between the attempts of a
    // read or a write; look is how the file is looked at, ProbeIniFile but in tests.
    explicit TIniFile(std::string fileName, TClock& clock = SystemClock(),
                      TIniFileLook look = ProbeIniFile);
    // Flushes whatever the platform still caches for the file.
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const std::string& FileName() const noexcept { return FFileName; }

    // At most 2047 characters; the default when the file, section or key is missing. A file that
    // another program holds or writes (ProbeIniFile before and after the read, and the file
    // unchanged between them) is no missing file: the read is tried again as a write is, and
    // raises EIniFileException ("Unable to read <full path>") when the file stays held, so that a
    // default never stands in for the user's value.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // A write refused for a sharing or lock violation, or that would land in the middle of another
    // program's write, is tried again every 100 ms for up to 2 s: antivirus scanners, backup
    // agents and editors hold files briefly. Raises
    // EIniFileException ("Unable to write to <full path>") when the platform refuses for any other
    // reason, or for longer.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // The value read by the integer text rules; the default for anything else.
    std::int32_t ReadInteger(const std::string& section, const std::string& key,
                             std::int32_t defaultValue) const;
    void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);
    // Zero is off, any other integer on; text that is no integer gives the default.
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
    void WriteBool(const std::string& section, const std::string& key, bool value);

    // Asks the platform to write out what it caches for the file.
    void UpdateFile() noexcept;

private:
    // Runs attempt (which gives 0 or the code that refused it) until it gives anything but a
    // sharing or lock violation, or until 2 s have passed; gives its last code.
    unsigned long WhileHeld(const std::function<unsigned long()>& attempt) const;

    std::string FFileName;
    TClock& FClock;
    TIniFileLook FLook;
};
