// Tables of message handlers for window and dialog objects. An entry names the
// message (for WM_COMMAND also the command id) and a handler member function that
// receives the message's arguments unpacked; a class walks its own table first and
// then hands the message on to its base class's handling.
#pragma once

#include <windows.h>
#include <windowsx.h>

#include <span>
#include <type_traits>

template <typename T>
struct MessageEntry {
    // True when the handler took the message; `result` then holds the answer.
    using Thunk = bool (*)(T& self, WPARAM wParam, LPARAM lParam, LRESULT& result);
    UINT message;
    // WM_COMMAND: the command id the entry is for.
    UINT commandId;
    Thunk thunk;
};

template <typename T>
bool DispatchMessageTable(T& self, std::span<const MessageEntry<T>> table, UINT message, WPARAM wParam,
                          LPARAM lParam, LRESULT& result) {
    for (const MessageEntry<T>& entry : table) {
        if (entry.message != message) continue;
        if (message == WM_COMMAND && LOWORD(wParam) != entry.commandId) continue;
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
    return MessageEntry<T>{message, 0, [](T& self, WPARAM w, LPARAM l, LRESULT& r) {
                               r = (self.*F)(w, l);
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
