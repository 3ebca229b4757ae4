// Tables of message handlers for window and dialog objects. An entry names the
// message (for WM_COMMAND also the command id) and a handler member function that
// receives the message's arguments unpacked; a class walks its own table first and
// then hands the message on to its base class's handling.
#pragma once

#include <windows.h>
#include <windowsx.h>

#include <span>

#include "framework/ScopeGuards.h"
#include <type_traits>

template <typename T>
struct MessageEntry {
    // True when the handler took the message; `result` then holds the answer.
    using Thunk = bool (*)(T& self, WPARAM wParam, LPARAM lParam, LRESULT& result);
    UINT message;
    // WM_COMMAND: the command id the entry is for; WM_NOTIFY: the control id.
    UINT commandId;
    Thunk thunk;
    // WM_NOTIFY: the notification code.
    UINT notifyCode = 0;
    // Takes every WM_COMMAND and WM_NOTIFY, whatever it comes from (msg::Raw).
    bool anySource = false;
};

template <typename T>
bool DispatchMessageTable(T& self, std::span<const MessageEntry<T>> table, UINT message, WPARAM wParam,
                          LPARAM lParam, LRESULT& result) {
    for (const MessageEntry<T>& entry : table) {
        if (entry.message != message) continue;
        if (message == WM_COMMAND && !entry.anySource && LOWORD(wParam) != entry.commandId) continue;
        if (message == WM_NOTIFY && !entry.anySource) {
            const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
            if (!header || header->idFrom != entry.commandId || header->code != entry.notifyCode) continue;
        }
        if (entry.thunk(self, wParam, lParam, result)) return true;
    }
    return false;
}

namespace message_map_detail {
template <typename F>
struct Member;
template <typename C, typename R, typename... A>
struct Member<R (C::*)(A...)> {
    using Class = C;
};
template <auto F>
using ClassOf = typename Member<decltype(F)>::Class;
}  // namespace message_map_detail

// The entries, named after the message they handle: msg::Create<&Frame::OnCreate>().
namespace msg {

// Any message, unpacked by the handler: LRESULT F(WPARAM, LPARAM).
template <auto F>
constexpr auto Raw(UINT message) {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{message, 0,
                           [](T& self, WPARAM w, LPARAM l, LRESULT& r) {
                               r = (self.*F)(w, l);
                               return true;
                           },
                           0, true};
}

// Any message that the handler may decline: bool F(WPARAM, LPARAM, LRESULT&);
// false sends it on as if there were no entry. WM_COMMAND and WM_NOTIFY come
// from every source, the handler choosing.
template <auto F>
constexpr auto Maybe(UINT message) {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{message, 0, [](T& self, WPARAM w, LPARAM l, LRESULT& r) { return (self.*F)(w, l, r); }, 0,
                           true};
}

// WM_NOTIFY from one control with one code: LRESULT F(const NMHDR&), the
// handler casting to the notification's own structure.
template <auto F>
constexpr auto Notify(UINT controlId, UINT code) {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{WM_NOTIFY, controlId,
                           [](T& self, WPARAM, LPARAM l, LRESULT& r) {
                               r = (self.*F)(*reinterpret_cast<const NMHDR*>(l));
                               return true;
                           },
                           code};
}

// WM_CONTEXTMENU: bool F(HWND window, POINT screenPoint); the point is (-1, -1)
// for the keyboard. False declines, so the request goes on to the parent.
template <auto F>
constexpr auto ContextMenu() {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{WM_CONTEXTMENU, 0, [](T& self, WPARAM w, LPARAM l, LRESULT& r) {
                               r = 0;
                               return (self.*F)(reinterpret_cast<HWND>(w), POINT{GET_X_LPARAM(l), GET_Y_LPARAM(l)});
                           }};
}

// WM_SIZE: F(UINT type, int width, int height), both sizes signed. A bool F that
// returns false lets default processing see the message too.
template <auto F>
constexpr auto Size() {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{WM_SIZE, 0, [](T& self, WPARAM w, LPARAM l, LRESULT& r) {
                               r = 0;
                               // The width is a signed 16-bit value.
                               const int width = static_cast<short>(LOWORD(l));
                               const int height = static_cast<short>(HIWORD(l));
                               if constexpr (std::is_same_v<decltype((self.*F)(0u, 0, 0)), bool>)
                                   return (self.*F)(static_cast<UINT>(w), width, height);
                               else {
                                   (self.*F)(static_cast<UINT>(w), width, height);
                                   return true;
                               }
                           }};
}

// WM_PAINT and WM_PRINTCLIENT drawn by one void F(HDC): a WM_PAINT that brings
// its own DC draws into it, otherwise between BeginPaint and EndPaint.
template <auto F>
constexpr auto Paint() {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{WM_PAINT, 0, [](T& self, WPARAM w, LPARAM, LRESULT& r) {
                               r = 0;
                               if (HDC given = reinterpret_cast<HDC>(w)) {
                                   (self.*F)(given);
                               } else {
                                   PaintDc paint(self.Handle());
                                   if (paint) (self.*F)(paint.get());
                               }
                               return true;
                           }};
}
template <auto F>
constexpr auto PrintClient() {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{WM_PRINTCLIENT, 0, [](T& self, WPARAM w, LPARAM, LRESULT& r) {
                               r = 0;
                               if (HDC given = reinterpret_cast<HDC>(w)) (self.*F)(given);
                               return true;
                           }};
}

// WM_CREATE: bool F(const CREATESTRUCTA&); false makes creation fail.
template <auto F>
constexpr auto Create() {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{WM_CREATE, 0, [](T& self, WPARAM, LPARAM l, LRESULT& r) {
                               r = (self.*F)(*reinterpret_cast<const CREATESTRUCTA*>(l)) ? 0 : -1;
                               return true;
                           }};
}

// WM_DESTROY: void F().
template <auto F>
constexpr auto Destroy() {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{WM_DESTROY, 0, [](T& self, WPARAM, LPARAM, LRESULT& r) {
                               (self.*F)();
                               r = 0;
                               return true;
                           }};
}

// WM_COMMAND for one id: void F() for menu commands and accelerators, or
// void F(UINT notifyCode, HWND control) for controls.
template <auto F>
constexpr auto Command(UINT id) {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{WM_COMMAND, id, [](T& self, WPARAM w, LPARAM l, LRESULT& r) {
                               if constexpr (std::is_invocable_v<decltype(F), T&, UINT, HWND>)
                                   (self.*F)(HIWORD(w), reinterpret_cast<HWND>(l));
                               else
                                   (self.*F)();
                               r = 0;
                               return true;
                           }};
}

// WM_SYSCOMMAND: bool F(UINT command, POINT screenPoint), the command with its
// low four bits masked off; false leaves it to default processing.
template <auto F>
constexpr auto SysCommand() {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{WM_SYSCOMMAND, 0, [](T& self, WPARAM w, LPARAM l, LRESULT& r) {
                               r = 0;
                               return (self.*F)(static_cast<UINT>(w & 0xFFF0), POINT{GET_X_LPARAM(l), GET_Y_LPARAM(l)});
                           }};
}

// WM_INITMENUPOPUP: void F(HMENU popup, UINT position, bool windowMenu).
template <auto F>
constexpr auto InitMenuPopup() {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{WM_INITMENUPOPUP, 0, [](T& self, WPARAM w, LPARAM l, LRESULT& r) {
                               (self.*F)(reinterpret_cast<HMENU>(w), LOWORD(l), HIWORD(l) != 0);
                               r = 0;
                               return true;
                           }};
}

// WM_CHANGECBCHAIN: void F(HWND leaving, HWND next).
template <auto F>
constexpr auto ChangeCbChain() {
    using T = message_map_detail::ClassOf<F>;
    return MessageEntry<T>{WM_CHANGECBCHAIN, 0, [](T& self, WPARAM w, LPARAM l, LRESULT& r) {
                               (self.*F)(reinterpret_cast<HWND>(w), reinterpret_cast<HWND>(l));
                               r = 0;
                               return true;
                           }};
}

}  // namespace msg
