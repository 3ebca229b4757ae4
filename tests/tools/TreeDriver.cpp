// Drives the archive tree of the running program from outside, as a user's
// clicks would: "select N" expands every node and selects the N-th in display
// order (0 first), "command ID" sends a menu command to the main window. Prints
// the number of nodes; "keys K..." types keys into whatever has the keyboard, as
// a person at the keyboard would (each K a key name with optional "ctrl+",
// "alt+", "shift+" before it, e.g. "alt", "alt+v", "down", "return"); "focus"
// prints the class of the window with the keyboard focus; "groups" prints how
// many nodes each top-level node holds, in display order. Exit code 0 on success.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Collect(HWND tree, HTREEITEM node, std::vector<HTREEITEM>& order) {
    for (; node; node = reinterpret_cast<HTREEITEM>(
                     ::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(node)))) {
        order.push_back(node);
        ::SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(node));
        Collect(tree,
                reinterpret_cast<HTREEITEM>(
                    ::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(node))),
                order);
    }
}

// The tree may stand anywhere below the main window.
HWND FindTree(HWND frame) {
    HWND found = nullptr;
    ::EnumChildWindows(
        frame,
        [](HWND child, LPARAM result) -> BOOL {
            char name[64] = {};
            ::GetClassNameA(child, name, sizeof(name));
            if (std::strcmp(name, WC_TREEVIEWA) != 0) return TRUE;
            *reinterpret_cast<HWND*>(result) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

struct NamedKey {
    const char* name;
    WORD key;
};
constexpr NamedKey kKeys[] = {
    {"alt", VK_MENU},     {"ctrl", VK_CONTROL}, {"shift", VK_SHIFT},    {"f10", VK_F10},      {"down", VK_DOWN},
    {"up", VK_UP},        {"left", VK_LEFT},    {"right", VK_RIGHT},    {"return", VK_RETURN}, {"escape", VK_ESCAPE},
    {"tab", VK_TAB},      {"delete", VK_DELETE}, {"space", VK_SPACE},   {"home", VK_HOME},    {"end", VK_END},
    {"apps", VK_APPS},    {"f6", VK_F6},
};

WORD KeyOf(const std::string& name) {
    for (const NamedKey& key : kKeys)
        if (name == key.name) return key.key;
    if (name.size() == 1) return static_cast<WORD>(LOBYTE(::VkKeyScanA(name[0])));
    return 0;
}

void Press(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    ::SendInput(1, &input, sizeof(input));
    // The program takes each key before the next arrives, as typing would.
    ::Sleep(60);
}

// "ctrl+alt+k": the modifiers go down, the key is pressed, the modifiers come up.
bool TypeChord(const std::string& chord) {
    std::vector<WORD> keys;
    size_t start = 0;
    while (start <= chord.size()) {
        const size_t plus = chord.find('+', start);
        const std::string part = chord.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
        const WORD key = KeyOf(part);
        if (!key) return false;
        keys.push_back(key);
        if (plus == std::string::npos) break;
        start = plus + 1;
    }
    for (WORD key : keys) Press(key, false);
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) Press(*key, true);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    HWND frame = ::FindWindowA("Scrapvault 1.0 class", nullptr);
    HWND tree = frame ? FindTree(frame) : nullptr;
    if (!tree) return 3;
    if (std::strcmp(argv[1], "keys") == 0) {
        for (int i = 2; i < argc; ++i)
            if (!TypeChord(argv[i])) return 6;
        ::Sleep(300);
        return 0;
    }
    if (std::strcmp(argv[1], "point") == 0 && argc == 4) {
        // The pointer rests over a screen point, as a hand on the mouse leaves it.
        ::SetCursorPos(std::atoi(argv[2]), std::atoi(argv[3]));
        return 0;
    }
    if (std::strcmp(argv[1], "focus") == 0) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        char name[64] = {};
        if (::GetGUIThreadInfo(::GetWindowThreadProcessId(frame, nullptr), &info) && info.hwndFocus)
            ::GetClassNameA(info.hwndFocus, name, sizeof(name));
        std::printf("%s\n", name);
        return 0;
    }
    if (std::strcmp(argv[1], "windows") == 0) {
        DWORD program = 0;
        ::GetWindowThreadProcessId(frame, &program);
        ::EnumWindows(
            [](HWND window, LPARAM wanted) -> BOOL {
                DWORD owner = 0;
                ::GetWindowThreadProcessId(window, &owner);
                char title[128] = {};
                if (owner == static_cast<DWORD>(wanted) && ::IsWindowVisible(window) &&
                    ::GetWindowTextA(window, title, sizeof(title)) > 0)
                    std::printf("%s\n", title);
                return TRUE;
            },
            static_cast<LPARAM>(program));
        return 0;
    }
    if (std::strcmp(argv[1], "groups") == 0) {
        for (auto top = reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)); top;
             top = reinterpret_cast<HTREEITEM>(
                 ::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(top)))) {
            ::SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(top));
            std::vector<HTREEITEM> below;
            Collect(tree,
                    reinterpret_cast<HTREEITEM>(
                        ::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(top))),
                    below);
            std::printf("%zu ", below.size());
        }
        std::printf("\n");
        return 0;
    }
    if (std::strcmp(argv[1], "command") == 0) {
        ::SendMessageA(frame, WM_COMMAND, std::atoi(argv[2]), 0);
        return 0;
    }
    if (argc < 3) return 2;
    std::vector<HTREEITEM> order;
    Collect(tree, reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)), order);
    std::printf("%zu\n", order.size());
    const size_t index = std::strtoul(argv[2], nullptr, 10);
    if (std::strcmp(argv[1], "select") != 0 || index >= order.size()) return 4;
    ::SetFocus(tree);
    return ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(order[index])) ? 0 : 5;
}
