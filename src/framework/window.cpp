#include "framework/window.h"

namespace vesperlin::framework {

const MessageTable Window::messageTable{nullptr};

bool Window::DispatchMessageTable(WindowMessage& message) noexcept {
    try {
        for (const MessageTable* table = &GetMessageTable(); table != nullptr;
             table = table->base) {
            for (std::size_t i = 0; i < table->count; ++i) {
                const MessageEntry& entry = table->entries[i];
                if (entry.message == message.message && entry.handler(*this, message)) return true;
            }
        }
    } catch (...) {
        // A handler must not unwind through the platform's window procedure; the message falls
        // back to the default handling instead.
        message.result = 0;
    }
    return false;
}

}  // namespace vesperlin::framework
