// Drives the archive tree of the running program from outside, as a user's
// clicks would: "select N" expands every node and selects the N-th in display
// order (0 first), "command ID" sends a menu command to the main window. Prints
// the number of nodes. Exit code 0 on success.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    HWND frame = ::FindWindowA("Scrapvault 1.0 class", nullptr);
    HWND tree = frame ? FindTree(frame) : nullptr;
    if (!tree) return 3;
    if (std::strcmp(argv[1], "command") == 0) {
        ::SendMessageA(frame, WM_COMMAND, std::atoi(argv[2]), 0);
        return 0;
    }
    std::vector<HTREEITEM> order;
    Collect(tree, reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)), order);
    std::printf("%zu\n", order.size());
    const size_t index = std::strtoul(argv[2], nullptr, 10);
    if (std::strcmp(argv[1], "select") != 0 || index >= order.size()) return 4;
    ::SetFocus(tree);
    return ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(order[index])) ? 0 : 5;
}
