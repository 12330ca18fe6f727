#include "PrivateFile.h"

#include "Errors.h"
#include "Handle.h"
#include "WinApi.h"

#include <sddl.h>

void TLocalFree::operator()(void* memory) const noexcept {
    LocalFree(memory);
}

std::wstring OwnUserSid() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        RaiseLastOSError();
    const THandle token(raw);
    DWORD size = 0;
    // Asked once for the size: this first call fails by design.
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
    if (!GetTokenInformation(token.Get(), TokenUser, buffer.get(), size, &size))
        RaiseLastOSError();
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &text))
        RaiseLastOSError();
    const TLocalMemory<wchar_t> owned(text);
    return text;
}

// The owner too: a folder or a file system that gives new files another owner (the
// Administrators, for an elevated program) would leave that owner free to change the DACL.
std::wstring PrivateFileSecurityText(const std::wstring& userSid) {
    return L"O:" + userSid + L"D:P(A;;FA;;;" + userSid + L")(A;;FA;;;SY)(A;;FA;;;BA)";
}

TPrivateFileSecurity::TPrivateFileSecurity() : FUser(OwnUserSid()) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            PrivateFileSecurityText(FUser).c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        RaiseLastOSError();
    FDescriptor.reset(descriptor);
}
