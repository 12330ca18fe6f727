// Finding and answering the message boxes that a process under test shows. Under Xvfb the boxes are
// real windows of the dialog class "#32770".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct TMessageBox {
    void* Window = nullptr;
    std::string Caption;
    std::string Text;
};

// Waits up to timeoutMs for a visible top-level dialog window of processId that holds a message
// text, and reads its caption and text. Nothing when none came up in time.
std::optional<TMessageBox> WaitForMessageBox(std::uint32_t processId, std::uint32_t timeoutMs);

// Whether processId shows a message box right now.
bool HasMessageBox(std::uint32_t processId);

// Presses OK on the box, as a user would. Does not wait for the box to go.
void PressOk(const TMessageBox& box);
