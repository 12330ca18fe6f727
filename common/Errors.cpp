#include "Errors.h"

#include "Unicode.h"
#include "WinApi.h"

#include <cstdio>
#include <utility>

#if defined(_MSC_VER)
#include <intrin.h>
#define KORVEL_RETURN_ADDRESS() _ReturnAddress()
#else
#define KORVEL_RETURN_ADDRESS() __builtin_return_address(0)
#endif

// Not inline on purpose: the return address is then a code address inside whoever raised.
Exception::Exception(std::string message)
    : FMessage(std::move(message)), FAddress(KORVEL_RETURN_ADDRESS()) {}

Exception::Exception(std::string message, const void* address)
    : FMessage(std::move(message)), FAddress(address) {}

EOSError::EOSError(std::string message, std::uint32_t errorCode, const void* address)
    : Exception(std::move(message), address), FErrorCode(errorCode) {}

std::string_view TrimSystemText(std::string_view text) noexcept {
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.back());
        if (c > 32 && c != '.')
            break;
        text.remove_suffix(1);
    }
    return text;
}

std::string SysErrorMessage(std::uint32_t errorCode) {
    wchar_t buffer[256];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                            FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                        nullptr, errorCode, 0, buffer, 256, nullptr);
    // Trimmed after the conversion: only ASCII blanks, controls and dots go, never part of a
    // longer sequence.
    const std::string text = Utf16ToUtf8(std::wstring_view(buffer, length));
    return std::string(TrimSystemText(text));
}

std::string ReasonText(std::uint32_t errorCode) {
    std::string text = SysErrorMessage(errorCode);
    return text.empty() ? "system error " + std::to_string(errorCode) : text;
}

std::string OSErrorMessage(std::uint32_t errorCode) {
    if (errorCode == 0)
        return "A call to an OS function failed";
    // %d: a code above 2^31 (an HRESULT) prints negative, as the signed OS code it is.
    char head[64];
    std::snprintf(head, sizeof head, "System Error.  Code: %d.\r\n", static_cast<int>(errorCode));
    return head + SysErrorMessage(errorCode);
}

namespace {

[[noreturn]] void Raise(TOSFailure failure, std::uint32_t code, std::string_view context,
                        const void* address) {
    switch (failure) {
    case TOSFailure::ThreadCreation:
        throw EThread("Thread creation error: " + SysErrorMessage(code), address);
    case TOSFailure::Thread: {
        char number[32];
        // %d: the OS code as the signed number it is reported as.
        std::snprintf(number, sizeof number, " (%d)", static_cast<int>(code));
        throw EThread("Thread Error: " + SysErrorMessage(code) + number, address);
    }
    case TOSFailure::File:
        throw EInOutError(std::string(context) + ". " + OSErrorMessage(code), address);
    case TOSFailure::Call:
        break;
    }
    throw EOSError(OSErrorMessage(code), code, address);
}

} // namespace

// Both out of line (their own unit): the return address is then a code address in whoever raised.
void RaiseOSError(TOSFailure failure, std::uint32_t code, std::string_view context) {
    Raise(failure, code, context, KORVEL_RETURN_ADDRESS());
}

void RaiseLastOSError(TOSFailure failure, std::string_view context) {
    const DWORD code = GetLastError();
    Raise(failure, code, context, KORVEL_RETURN_ADDRESS());
}

TKeepLastError::TKeepLastError() noexcept : FCode(GetLastError()) {}

TKeepLastError::~TKeepLastError() {
    SetLastError(FCode);
}
