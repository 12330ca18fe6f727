#include "FileSecurity.h"

#include "Handle.h"
#include "WinApi.h"

#include <aclapi.h>
#include <sddl.h>

#include <regex>

TFileSecurity FileSecurity(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    char* text = nullptr;
    const DWORD parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts,
                                                              &text, nullptr))
        return {};
    const std::string sddl = text;
    LocalFree(text);
    LocalFree(descriptor);
    TFileSecurity security{sddl.substr(2, sddl.find("D:") - 2), {}};
    const std::regex ace(R"(\((?:[^;)]*;){5}([^)]*)\))");
    for (std::sregex_iterator it(sddl.begin(), sddl.end(), ace), end; it != end; ++it)
        security.Grantees.push_back((*it)[1] == security.Owner ? "owner" : (*it)[1].str());
    return security;
}

std::string ProcessUserSid() {
    HANDLE token = nullptr;
    alignas(TOKEN_USER) BYTE user[256];
    DWORD size = 0;
    char* text = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "?";
    const THandle owned(token);
    if (!GetTokenInformation(token, TokenUser, user, sizeof user, &size) ||
        !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text))
        return "?";
    const std::string sid = text;
    LocalFree(text);
    return sid;
}
