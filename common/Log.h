// TLog: appends messages to one plain-text file, opening and closing it for every message, so the
// file is complete on disk after each one and may be read, moved or deleted in between.
#pragma once

#include "Clock.h"
#include "Handle.h"
#include "PrivateFile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class TLog {
public:
    // Touches no file until the first message. clock supplies the retry pauses.
    TLog(std::string fileName, bool timestamps, TClock& clock = SystemClock());
    TLog(const TLog&) = delete;
    TLog& operator=(const TLog&) = delete;

    // Binds the log to another file; the next message then starts a new line. The same name
    // (exact comparison) changes nothing.
    void SetFileName(const std::string& fileName);

    // Appends message, and CR LF when lineEnd. A message that starts a line gets the timestamp
    // when timestamps are on. Gives true when the message reached the file and the file was
    // closed; false when the file could not be created or opened within the retries (the message
    // is lost). Raises EInOutError when writing a piece fails. Safe to call from several threads:
    // one Write runs at a time. The thread's last error is the caller's again when it returns.
    bool Write(std::string_view message, bool lineEnd);

    // Writes line, with CR LF, as a line of its own: at once when no line is open, otherwise
    // right after the open line ends (by whichever thread's Write ends it), so that a step and
    // its outcome stay one line whatever another thread has to say. The observer has it at once.
    // Gives what Write gives, or true when the line is held. Raises as Write does. Any thread.
    bool WriteAside(std::string_view line);

    // Write of a whole line that the observer never hears of: for a line whose usual meaning does
    // not hold this time. Any thread.
    bool WriteUnobserved(std::string_view line);

    // Hands text to the observer as if it were a completed line, and writes nothing: for one event
    // that gathers lines written unobserved before. Any thread.
    void Observe(std::string_view text);

    // Bounds the file (maxBytes 0, the default: no bound). A line that would take the file past
    // maxBytes first turns it into copy 1 ("korvel.log" becomes "korvel.1.log"), the older copies
    // moving up one number and those beyond keep going, and then begins a new file with its
    // "Log created" line. Only at the start of a line: a step and its outcome stay in one file. A
    // rename that another program's open handle refuses leaves the file growing until a later
    // line gets through; no older copy is lost to the refusal. Any thread.
    void SetRotation(std::uint64_t maxBytes, std::uint32_t keep);

    // From now on every file the log creates (the log, and a new log after a rotation; a copy keeps
    // what its file had) is private: owned by the user the program runs as and open to that user,
    // SYSTEM and the Administrators only, nothing inherited from the folder. For a log folder that
    // every user of the machine may add files to. Raises EOSError when the user cannot be told.
    // Any thread.
    void MakeFilesPrivate();

    // observer is called with each completed line: the messages since the line began, without
    // timestamp and line end; a step and its outcome as one line. It runs on the thread whose
    // Write ended the line, after that Write and outside the log's lock, whether or not the line
    // reached the file; it must not raise. Set it before a second thread writes.
    void SetLineObserver(std::function<void(std::string_view)> observer);

private:
    // The open-write-close state of the log file. Every step raises EInOutError when the OS refuses
    // it. Only the thread inside Write (under FWriteLock) touches it.
    struct TFileRecord {
        static constexpr std::size_t MaxNameLength = 259; // in UTF-16 units, as Windows counts
        static constexpr std::size_t BufferSize = 128;

        std::string Name;
        std::wstring WideName; // Name as the file calls take it, converted once per binding
        THandle Handle;
        std::string Buffer; // text not yet handed to the OS, never more than BufferSize

        // Binds the record to name, closed; an open file is closed and its buffered text dropped.
        void Assign(const std::string& name);
        // True when a file (not a directory) of the bound name exists.
        bool Exists() const;
        // Opens the existing file for reading and writing, shared for reading only, at its end.
        void Append();
        // Creates the file, or empties an existing one, for writing, shared for reading only; with
        // security (a SECURITY_DESCRIPTOR) when not null.
        void Rewrite(void* security);
        // The size of the open file; 0 when the system cannot tell, which never rotates it.
        std::uint64_t Size() const;
        // Adds text to the buffer, handing the buffer to the OS each time it fills.
        void WriteText(std::string_view text);
        // Hands the buffer to the OS, then closes the file. A failed hand-over drops the buffered
        // text and leaves the file open, so that the next Close only closes it.
        void Close();

    private:
        void HandOver();
        void OpenWith(unsigned long access, unsigned long disposition, const char* action,
                      void* security = nullptr);
    };

    // Opens the file at its end, creating it with its first line when it is missing; false when
    // that failed within the retries.
    bool OpenForAppending();
    bool CreateLogFile();
    // Performs the rotation plan on the closed file; stops at the first refused step.
    void Rotate();
    bool Retry(const std::function<void()>& step, const char* failureText);
    // Write and WriteAside, under FWriteLock.
    bool WriteLocked(std::string_view message, bool lineEnd);
    // The lines held aside, once no line is open; a line that fails to be written is dropped.
    void WriteHeldAside();
    std::string Timestamp() const;

    std::string FFileName;
    TFileRecord FFile;
    bool FTimestamps;
    std::string FDateFormat;
    bool FLineStart = true;
    std::vector<std::string> FAside; // lines held until the open line ends
    std::string FPendingError;
    TClock& FClock;
    std::uint64_t FMaxBytes = 0;
    std::uint32_t FKeep = 0;
    std::unique_ptr<TPrivateFileSecurity> FPrivate; // set: the files it creates are private
    std::function<void(std::string_view)> FLineObserver;
    std::string FObservedLine; // the pieces of the line not yet ended
    std::mutex FWriteLock;     // one Write, SetFileName or SetRotation at a time
};
