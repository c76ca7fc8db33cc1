#include "modal_script.h"

#include <memory>

namespace vesperlin::testing {

namespace {

struct Script {
    framework::Dialog* dialog = nullptr;
    std::vector<ScriptStep> steps;
    std::size_t next = 0;
    DWORD started = 0;
    DWORD timeoutMs = 0;
    bool running = false;
    ScriptResult result;
};

thread_local Script* currentScript = nullptr;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    Script* script = currentScript;
    // A step that runs a nested modal loop must not see its own next tick.
    if (script == nullptr || script->running) return;
    HWND window = script->dialog->Handle();
    if (window == nullptr) return;
    if (GetTickCount() - script->started > script->timeoutMs) {
        script->result.timedOut = "step " + std::to_string(script->next + 1);
        EndDialog(window, -2);
        return;
    }
    if (script->next >= script->steps.size()) return;
    script->running = true;
    const bool advance = script->steps[script->next](window);
    script->running = false;
    if (advance) ++script->next;
}

}  // namespace

ScriptResult RunModalScript(framework::Dialog& dialog, std::vector<ScriptStep> steps,
                            DWORD timeoutMs) {
    Script script;
    script.dialog = &dialog;
    script.steps = std::move(steps);
    script.started = GetTickCount();
    script.timeoutMs = timeoutMs;
    Script* outer = currentScript;
    currentScript = &script;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, Tick);
    script.result.code = dialog.DoModal();
    KillTimer(nullptr, timer);
    currentScript = outer;
    script.result.finished = script.next == script.steps.size() && script.result.timedOut.empty();
    return script.result;
}

ScriptStep Wait(DWORD ms) {
    auto start = std::make_shared<DWORD>(0);
    return [start, ms](HWND) {
        if (*start == 0) *start = GetTickCount() | 1;
        return GetTickCount() - *start >= ms;
    };
}

MessageRecorder::MessageRecorder() {
    previous = framework::SetMessageBoxFunction(
        [this](HWND, const std::string& text) { texts.push_back(text); });
}

MessageRecorder::~MessageRecorder() {
    framework::SetMessageBoxFunction(previous);
}

std::vector<std::string> ListLines(HWND list) {
    std::vector<std::string> lines;
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, i, 0);
        std::string text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
        const LRESULT copied =
            SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
        lines.push_back(text);
    }
    return lines;
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), length + 1)));
    return text;
}

}  // namespace vesperlin::testing
