// The error hierarchy shared by both executables, and the one path from a failed Win32 call to an
// EOSError. Free of Windows headers so that pure units can raise and catch these too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Base of every error the product raises. Carries the message text and the code address at which
// the error was raised, which the last-chance report prints.
class Exception {
public:
    explicit Exception(std::string message);
    Exception(std::string message, const void* address);
    virtual ~Exception() = default;

    const std::string& Message() const noexcept { return FMessage; }
    const void* Address() const noexcept { return FAddress; }
    // The class's own name, as the last-chance report prints it ("EIniFileException").
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string FMessage;
    const void* FAddress;
};

// A failed call to the operating system; ErrorCode is the thread's last error at that moment.
class EOSError : public Exception {
public:
    EOSError(std::string message, std::uint32_t errorCode, const void* address);
    std::uint32_t ErrorCode() const noexcept { return FErrorCode; }
    const char* ClassName() const noexcept override { return "EOSError"; }

private:
    std::uint32_t FErrorCode;
};

// A file step of the log failed.
class EInOutError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EInOutError"; }
};

// The settings file refused a write.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EIniFileException"; }
};

// The OS refused to create, resume or wait for a thread.
class EThread : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EThread"; }
};

// The system's message for an OS error code: at most 255 characters, trailing characters 0..32 and
// full stops removed; empty when the system has no message for the code.
std::string SysErrorMessage(std::uint32_t errorCode);

// The system's text for an OS error code, or "system error N" when the system has none: a reason
// that a log line can always show.
std::string ReasonText(std::uint32_t errorCode);

// Removes trailing characters of code 0..32 and trailing full stops, in any mix.
std::string_view TrimSystemText(std::string_view text) noexcept;

// The message of an EOSError for the given code: "System Error.  Code: %d.\r\n%s", or
// "A call to an OS function failed" for code 0.
std::string OSErrorMessage(std::uint32_t errorCode);

// What kind of OS call failed; it decides the class of the error raised and its fixed text. Every
// such text is built in one place (Errors.cpp).
enum class TOSFailure : std::uint8_t {
    Call,           // EOSError, "System Error.  Code: %d.\r\n%s"
    ThreadCreation, // EThread, "Thread creation error: %s"
    Thread,         // EThread, "Thread Error: %s (%d)"
    File,           // EInOutError, "<context>. " and the EOSError text
};

// The one path from a failed OS call to an error: raises the class that failure names, with its
// message for code, and the caller's code address. context names the file step for File.
[[noreturn]] void RaiseOSError(TOSFailure failure, std::uint32_t code,
                               std::string_view context = {});

// The same for the thread's last error, read before anything else can overwrite it. Call it on the
// line right after the failing API call.
[[noreturn]] void RaiseLastOSError(TOSFailure failure = TOSFailure::Call,
                                   std::string_view context = {});

// Puts the thread's last error back when it goes, so that work done on the way (closing a handle,
// writing the log) never disturbs the code that the caller is about to read.
class TKeepLastError {
public:
    TKeepLastError() noexcept;
    ~TKeepLastError();

private:
    std::uint32_t FCode;
};
