// Captures texts from the clipboard into an archive, one change after another,
// until it is killed, and prints the path of every file the writer has made
// whole, one a line: the test that kills it checks that each of them is.
//   svault_test_store_and_die ARCHIVE_FOLDER TEXT_CHARS
// With --catalog, catalogs the archive anew, over and over, printing a line
// as each catalog is begun, until it is killed:
//   svault_test_store_and_die --catalog ARCHIVE_FOLDER CATALOG_FILE
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/Catalog.h"
#include "archive/ItemArchive.h"
#include "support/ClipboardHelper.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--catalog") {
        ArchiveOptions options;
        options.folder = std::string(argv[2]) + "\\";
        options.catalogPath = argv[3];
        options.loadWholeArchive = true;
        for (;;) {
            Catalog::Delete(options.catalogPath);
            std::printf("catalog\n");
            std::fflush(stdout);
            ItemArchive archive;
            archive.LoadArchive(options);
            archive.WaitForCatalog();
        }
    }
    if (argc < 3) return 2;
    ArchiveOptions options;
    options.folder = argv[1];
    if (options.folder.back() != '\\') options.folder += '\\';
    const size_t chars = std::strtoul(argv[2], nullptr, 10);
    ItemArchive archive;
    archive.LoadArchive(options);
    archive.SetStoredHook([](const std::string& path) {
        std::printf("%s\n", path.c_str());
        std::fflush(stdout);
    });
    ClipboardHelper clipboard;
    for (unsigned change = 0;; ++change) {
        // Text that compresses no better than most does, different each time.
        std::wstring text(chars, L' ');
        unsigned state = change * 2654435761u + 1;
        for (wchar_t& c : text) {
            state = state * 1103515245u + 12345u;
            c = static_cast<wchar_t>(L'a' + (state >> 16) % 26);
        }
        const std::string bytes(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
        if (clipboard.Set({{CF_UNICODETEXT, bytes}})) archive.Capture(nullptr);
    }
}
