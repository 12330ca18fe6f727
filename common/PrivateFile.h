// Files that only their own user may open: owned by the user the program runs as, open to that
// user, SYSTEM and the Administrators only, with a protected DACL, so that nothing the folder grants
// reaches them. For what korvel writes into a folder that the users of a machine share.
#pragma once

#include <memory>
#include <string>

// What the security functions hand out for the caller to free with LocalFree.
struct TLocalFree {
    void operator()(void* memory) const noexcept;
};
template <class T> using TLocalMemory = std::unique_ptr<T, TLocalFree>;

// The user the program runs as, from its process token, as a SID string ("S-1-5-21-..."). Raises
// EOSError.
std::wstring OwnUserSid();

// The security descriptor, in SDDL, of a private file of userSid (a SID string).
std::wstring PrivateFileSecurityText(const std::wstring& userSid);

// The descriptor of a private file of the user the program runs as, built once, for the security
// attributes of each file created. Raises EOSError when the user or the descriptor cannot be had.
class TPrivateFileSecurity {
public:
    TPrivateFileSecurity();
    const std::wstring& User() const noexcept { return FUser; }
    // A SECURITY_DESCRIPTOR.
    void* Descriptor() const noexcept { return FDescriptor.get(); }

private:
    std::wstring FUser;
    TLocalMemory<void> FDescriptor;
};
