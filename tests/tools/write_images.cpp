// Writes one known picture through every image save choice, for outside tools to
// check: bmp1.bmp, bmp4.bmp, bmp8.bmp, bmp24.bmp, bmp32.bmp, png1.png, png4.png,
// png8.png in the folder named on the command line.
//
// The picture is 37 x 23 pixels (rows of every depth need padding); the pixel in
// column x of row y, counted from the top, has the colour of entry
// (x / 4 + y / 3) % 15 of the program's palette.
#include <windows.h>

#include <cstdio>
#include <string>

#include "items/BitmapItem.h"
#include "items/DibImage.h"

namespace {

constexpr int kWidth = 37;
constexpr int kHeight = 23;

std::string PictureDib() {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = kWidth;
    header.biHeight = kHeight;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const size_t rowBytes = static_cast<size_t>(RowBytes(kWidth, 24));
    std::string block(reinterpret_cast<const char*>(&header), sizeof(header));
    for (int stored = 0; stored < kHeight; ++stored) {
        const int y = kHeight - 1 - stored;  // DIB rows run bottom to top
        std::string row(rowBytes, '\0');
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t rgb = DefaultPaletteColor((x / 4 + y / 3) % 15);
            row[x * 3] = static_cast<char>(rgb & 0xFF);
            row[x * 3 + 1] = static_cast<char>((rgb >> 8) & 0xFF);
            row[x * 3 + 2] = static_cast<char>((rgb >> 16) & 0xFF);
        }
        block += row;
    }
    return block;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_images FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    if (folder.empty() || folder.back() != '\\') folder += '\\';

    const std::string dib = PictureDib();
    BitmapItem item;
    if (!item.SetFromDib(dib.data(), dib.size())) {
        std::fprintf(stderr, "write_images: the picture was not taken\n");
        return 1;
    }
    const char* names[8] = {"bmp1.bmp", "bmp4.bmp", "bmp8.bmp", "bmp24.bmp",
                            "bmp32.bmp", "png1.png", "png4.png", "png8.png"};
    int failed = 0;
    for (int choice = 1; choice <= 8; ++choice) {
        if (!item.WriteImageFile(folder + names[choice - 1], choice)) {
            std::fprintf(stderr, "write_images: %s was not written\n", names[choice - 1]);
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
