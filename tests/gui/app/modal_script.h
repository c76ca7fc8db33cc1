#pragma once
// Drives a modal dialog from inside its own modal loop: a thread timer runs the script's steps
// one tick after another while DoModal runs, so tests see the dialog exactly as the user's
// modal loop would, on the thread that owns it.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "framework/message_box.h"

namespace vesperlin::testing {

// One step; true moves on to the next step, false runs the same step again on the next tick
// (to wait for something). The last step must end the dialog.
using ScriptStep = std::function<bool(HWND dialog)>;

struct ScriptResult {
    INT_PTR code = 0;       // what DoModal returned
    bool finished = false;  // every step ran and the dialog ended
    std::string timedOut;   // "step N" when the watchdog had to end the dialog
};

// Runs `dialog` modally with the steps; after `timeoutMs` the watchdog ends the dialog with -2.
ScriptResult RunModalScript(framework::Dialog& dialog, std::vector<ScriptStep> steps,
                            DWORD timeoutMs = 15000);

// A step that waits until `ms` milliseconds have passed since it first ran.
ScriptStep Wait(DWORD ms);

// Records every text given to ShowMessage while it lives, instead of showing a box.
class MessageRecorder {
  public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;
    const std::vector<std::string>& Texts() const { return texts; }

  private:
    std::vector<std::string> texts;
    framework::MessageBoxFunction previous;
};

// The lines of a list box window, read with LB_GETCOUNT and LB_GETTEXT.
std::vector<std::string> ListLines(HWND list);

// The text of a window (GetWindowTextA).
std::string WindowText(HWND window);

}  // namespace vesperlin::testing
