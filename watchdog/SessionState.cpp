#include "SessionState.h"

#include "WinApi.h"

namespace {

class TSystemSession final : public TSessionState {
public:
    bool Ending() override { return GetSystemMetrics(SM_SHUTTINGDOWN) != 0; }
};

} // namespace

TSessionState& SystemSession() {
    static TSystemSession session;
    return session;
}
