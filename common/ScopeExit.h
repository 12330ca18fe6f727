// TScopeExit: runs an action when a scope ends, however it ends.
#pragma once

#include <exception>
#include <utility>

// An error that the action raises leaves the scope when the scope ends normally. While another
// error is unwinding the scope, the action's own error is dropped, so that the first one goes on
// (two errors at once would end the process).
template <class TAction> class TScopeExit {
public:
    explicit TScopeExit(TAction action) : FAction(std::move(action)) {}
    ~TScopeExit() noexcept(false) {
        if (std::uncaught_exceptions() == FUncaught) {
            FAction();
            return;
        }
        try {
            FAction();
        } catch (...) {
        }
    }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    TAction FAction;
    int FUncaught = std::uncaught_exceptions();
};
