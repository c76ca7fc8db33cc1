#pragma once
// The common base of our windows: a window handle plus a static message table.
//
// A class answers messages through a table of {message, handler} rows rather than a virtual per
// message. Each class that handles messages defines its own table and points it at its base
// class's table; dispatch searches the most derived table first, then each base in turn, and
// the first handler that reports the message handled wins. A handler that declines (returns
// false) lets the search go on, so a derived handler can take one command and leave the rest
// to its base. Nothing found means the platform's default handling.
//
//     class MainDialog : public PinnableDialog {
//         const MessageTable& GetMessageTable() const override { return messageTable; }
//         bool OnTimer(WindowMessage& message);
//         static const MessageEntry messageEntries[];
//         static const MessageTable messageTable;
//     };
//     const MessageEntry MainDialog::messageEntries[] = {
//         {WM_TIMER, Handler<&MainDialog::OnTimer>},
//     };
//     const MessageTable MainDialog::messageTable{&PinnableDialog::messageTable, messageEntries};

#include <windows.h>
#include <olectl.h>

#include <cstddef>

namespace vesperlin::framework {

class Window;

// One message as a handler sees it. The handler sets result when the message's answer matters
// (a brush for WM_CTLCOLOR*, an icon for WM_QUERYDRAGICON, ...).
struct WindowMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;
};

// Returns true when the message is handled; false passes it on to the next table row or to
// the base class's table.
using MessageHandler = bool (*)(Window& self, WindowMessage& message);

struct MessageEntry {
    UINT message;
    MessageHandler handler;
};

struct MessageTable {
    const MessageTable* base = nullptr;
    const MessageEntry* entries = nullptr;
    std::size_t count = 0;

    constexpr explicit MessageTable(const MessageTable* baseTable) : base(baseTable) {}
    template <std::size_t N>
    constexpr MessageTable(const MessageTable* baseTable, const MessageEntry (&rows)[N])
        : base(baseTable), entries(rows), count(N) {}
};

namespace detail {
template <typename T>
struct MemberHandlerClass;
template <typename C>
struct MemberHandlerClass<bool (C::*)(WindowMessage&)> {
    using type = C;
};
}  // namespace detail

// Turns a member function `bool Class::OnSomething(WindowMessage&)` into a table handler.
template <auto member>
bool Handler(Window& self, WindowMessage& message) {
    using Class = typename detail::MemberHandlerClass<decltype(member)>::type;
    return (static_cast<Class&>(self).*member)(message);
}

// Notifications a parent dialog reflects back to the bound control that sent them arrive at the
// control as OCM__BASE + the original message, the offset ActiveX controls use (WM_COMMAND with
// its notification code in HIWORD(wParam), WM_CTLCOLORSTATIC with the painting device context in
// wParam, ...).
constexpr UINT ReflectedMessageBase = OCM__BASE;
constexpr UINT ReflectedCommand = OCM_COMMAND;
constexpr UINT ReflectedCtlColorStatic = OCM_CTLCOLORSTATIC;

class Window {
  public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window() = default;

    HWND Handle() const noexcept { return window; }

    // Searches the message tables, most derived first. Never lets an exception out: a handler
    // that throws counts as not having handled the message.
    bool DispatchMessageTable(WindowMessage& message) noexcept;

    // The empty table every chain ends in.
    static const MessageTable messageTable;

  protected:
    virtual const MessageTable& GetMessageTable() const { return messageTable; }

    HWND window = nullptr;
};

}  // namespace vesperlin::framework
