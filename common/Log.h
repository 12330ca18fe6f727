// TLog: appends messages to one plain-text file, opening and closing it for every message, so the
// file is complete on disk after each one and may be read, moved or deleted in between.
#pragma once

#include "Clock.h"

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

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
    // one Write runs at a time.
    bool Write(std::string_view message, bool lineEnd);

private:
    // Defined in Log.cpp; kept here so that the file state stays a field of the log.
    struct TFileRecord {
        std::string Name;
        void* Handle = nullptr;
        std::string Buffer;
    };

    bool CreateLogFile();
    bool Retry(const std::function<void()>& step, const char* failureText);

    std::string FFileName;
    TFileRecord FFile;
    bool FTimestamps;
    std::string FDateFormat;
    bool FLineStart = true;
    std::string FPendingError;
    TClock& FClock;
    std::mutex FWriteLock;
};
