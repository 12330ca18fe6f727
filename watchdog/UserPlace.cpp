#include "UserPlace.h"

#include "KorvelProtocol.h"
#include "Registry.h"

#include <utility>

namespace {

constexpr const char* StartupTimeoutValue = "startup_timeout";

} // namespace

TUserPlace::TUserPlace(std::string keyPath) : FKeyPath(std::move(keyPath)) {}

TUserPlace::TUserPlace() : TUserPlace(KorvelProtocol::UserPlaceKey) {}

std::optional<std::uint32_t> TUserPlace::StartupTimeout() const {
    return ReadRegistryNumber(TRegistryRoot::CurrentUser, FKeyPath, StartupTimeoutValue);
}

void TUserPlace::KeepStartupTimeout(std::uint32_t seconds) const {
    WriteRegistryNumber(TRegistryRoot::CurrentUser, FKeyPath, StartupTimeoutValue, seconds);
}

std::uint32_t TUserPlace::ProcessId(std::uint32_t session) const {
    return ReadRegistryNumber(TRegistryRoot::CurrentUser, SessionKey(session),
                              KorvelProtocol::ProcessIdKey)
        .value_or(0);
}

std::string TUserPlace::SessionKey(std::uint32_t session) const {
    return FKeyPath + "\\" + KorvelProtocol::SessionsKey + "\\" + std::to_string(session);
}
