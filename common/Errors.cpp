#include "Errors.h"

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
    char buffer[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                            FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                        nullptr, errorCode, 0, buffer, sizeof buffer, nullptr);
    return std::string(TrimSystemText(std::string_view(buffer, length)));
}

std::string OSErrorMessage(std::uint32_t errorCode) {
    if (errorCode == 0)
        return "A call to an OS function failed";
    // %d: a code above 2^31 (an HRESULT) prints negative, as the signed OS code it is.
    char head[64];
    std::snprintf(head, sizeof head, "System Error.  Code: %d.\r\n", static_cast<int>(errorCode));
    return head + SysErrorMessage(errorCode);
}

// Out of line (its own unit): the return address is then a code address in whoever raised.
void RaiseLastOSError() {
    const DWORD code = GetLastError();
    throw EOSError(OSErrorMessage(code), code, KORVEL_RETURN_ADDRESS());
}
