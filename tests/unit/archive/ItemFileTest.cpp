#include "archive/ItemFile.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <psapi.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/CaptureTime.h"
#include "base/RecordFile.h"
#include "base/Compression.h"
#include "framework/UniqueHandle.h"
#include "items/TextItem.h"
#include "support/ItemFileBytes.h"
#include "support/TempFolder.h"

namespace {

const std::string kHeader("F\x01\x00\x00\x00", 5);

// The worked example: a text item without text, 12:00 UTC on 31 March 2005, zero GUID.
const std::string kEmptyTextItem = std::string("F\x01\x00\x00\x00", 5) +
                                   std::string("Y\x04\x00\x00\x00\x01\x00\x00\x00", 9) +
                                   std::string("D\x08\x00\x00\x00\x00\x00\x00\x00\x50\xC5\xE2\x40", 13) +
                                   std::string("G\x10\x00\x00\x00", 5) + std::string(16, '\0');

std::string Le32(uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

std::string Field(char tag, const std::string& data) { return std::string(1, tag) + Le32(data.size()) + data; }

template <typename T>
std::string Raw(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}

// The most memory the process has held at once so far.
SIZE_T PeakMemory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    EXPECT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters)));
    return counters.PeakWorkingSetSize;
}

bool IsZero(const GUID& guid) { return guid == GUID{}; }

std::string Compress(const std::string& bytes) {
    Bytes block;
    EXPECT_TRUE(CompressBlock(bytes.data(), bytes.size(), block));
    return std::string(block.begin(), block.end());
}

}  // namespace

TEST(ItemFileTest, WorkedExampleIsByteExactAndReadsBack) {
    SYSTEMTIME noon = {};
    noon.wYear = 2005;
    noon.wMonth = 3;
    noon.wDay = 31;
    noon.wHour = 12;
    double time = 0;
    ASSERT_TRUE(::SystemTimeToVariantTime(&noon, &time));
    ASSERT_EQ(38442.5, time);

    TempFolder folder;
    const std::string path = folder / "example.tx";
    TextItem item;
    item.SetCaptureTime(time);
    ASSERT_TRUE(WriteItemFile(item, path));
    EXPECT_EQ(path, item.RecordPath());
    ASSERT_EQ(48u, kEmptyTextItem.size());
    EXPECT_EQ(kEmptyTextItem, ReadFileBytes(path));

    TextItem back;
    back.SetText(L"replaced by the file");
    ASSERT_TRUE(ReadItemFile(back, path));
    EXPECT_FALSE(back.HasText());
    EXPECT_EQ(38442.5, back.CaptureTime());
    EXPECT_TRUE(IsZero(back.SourceGuid()));
    EXPECT_EQ(path, back.RecordPath());

    // Lower-case letters and other version words read all the same.
    std::string variant = kEmptyTextItem;
    variant[0] = 'f';
    variant[1] = 7;
    variant[4] = static_cast<char>(0xFF);
    variant[5] = 'y';
    variant[14] = 'd';
    variant[27] = 'g';
    ASSERT_TRUE(WriteFileBytes(path, variant));
    TextItem lower;
    ASSERT_TRUE(ReadItemFile(lower, path));
    EXPECT_EQ(38442.5, lower.CaptureTime());

    // Nothing but the header: the item as constructed, stamped at loading.
    ASSERT_TRUE(WriteFileBytes(path, kHeader));
    const double before = CurrentCaptureTime();
    TextItem bare;
    ASSERT_TRUE(ReadItemFile(bare, path));
    EXPECT_LE(before, bare.CaptureTime());
    EXPECT_GE(CurrentCaptureTime(), bare.CaptureTime());
    EXPECT_TRUE(IsZero(bare.SourceGuid()));
    EXPECT_FALSE(bare.HasText());

    // A ".tx" file that claims to hold a bitmap.
    std::string bitmap = kEmptyTextItem;
    bitmap[10] = 8;
    ASSERT_TRUE(WriteFileBytes(path, bitmap));
    TextItem wrong;
    EXPECT_FALSE(ReadItemFile(wrong, path));
}

TEST(ItemFileTest, TextRoundTripsThroughItsDateFolder) {
    TempFolder folder;
    // A brace in the archive's own path is kept as it is.
    const std::string archive = folder / "{archive}\\";
    const std::wstring text = L"Gr\u00fc\u00dfe \u4e16\u754c \u2014 \U0001F600";
    const GUID source = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

    TextItem item;
    item.SetText(text);
    item.SetSourceGuid(source);
    item.SetCaptureTime(38442.5);
    ASSERT_TRUE(StoreItem(item, archive));

    // archive + "31_3_2005\" + "C" + GUID with hyphens for braces + ".tx" (in UTC).
    const std::string dateFolder = archive + "31_3_2005\\";
    const std::string path = item.RecordPath();
    ASSERT_EQ(dateFolder, path.substr(0, dateFolder.size()));
    const std::string name = path.substr(dateFolder.size());
    EXPECT_EQ(1 + 38 + 3u, name.size()) << name;
    EXPECT_EQ("C-", name.substr(0, 2));
    EXPECT_EQ("-.tx", name.substr(name.size() - 4));
    EXPECT_EQ(std::string::npos, name.find_first_of("{}"));
    EXPECT_EQ(std::vector<std::string>{name}, ListFiles(dateFolder));

    // The "B" field is a plain zlib stream of the UTF-16 bytes, without terminator.
    const std::string bytes = ReadFileBytes(path);
    ASSERT_GT(bytes.size(), 53u);
    EXPECT_EQ(kEmptyTextItem.substr(0, 27), bytes.substr(0, 27));
    EXPECT_EQ(Raw(source), bytes.substr(32, 16));
    EXPECT_EQ('B', bytes[48]);
    uint32_t length;
    std::memcpy(&length, bytes.data() + 49, 4);
    ASSERT_EQ(bytes.size() - 53, length);
    std::string plain(text.size() * 2 + 16, '\0');
    uLongf plainSize = static_cast<uLongf>(plain.size());
    ASSERT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(plain.data()), &plainSize,
                               reinterpret_cast<const Bytef*>(bytes.data() + 53), length));
    plain.resize(plainSize);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2), plain);

    TextItem back;
    ASSERT_TRUE(ReadItemFile(back, path));
    EXPECT_EQ(text, back.Text());
    EXPECT_TRUE(back.SourceGuid() == source);
    EXPECT_EQ(38442.5, back.CaptureTime());

    // Far more than the first working buffer of 200,000 bytes.
    std::wstring big(150001, L'\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<wchar_t>(L'A' + (i * 7919) % 26);
    TextItem large;
    large.SetText(big);
    ASSERT_TRUE(StoreItem(large, archive));
    TextItem largeBack;
    ASSERT_TRUE(ReadItemFile(largeBack, large.RecordPath()));
    EXPECT_TRUE(big == largeBack.Text());

    // An item whose type has no file kind is not stored.
    EXPECT_EQ(nullptr, ItemFileExtension(2));
    EXPECT_EQ(kTextItemType, ItemTypeOfExtension("C:\\x.y\\C-1-.TX"));
    EXPECT_EQ(0, ItemTypeOfExtension("C:\\x.tx\\file"));
}

TEST(ItemFileTest, DamagedFilesFailCleanly) {
    TempFolder folder;
    const std::string y = Field('Y', Le32(1));
    const std::string d = Field('D', Raw(38442.5));
    const std::string b = Field('B', Compress(std::string("h\0i\0", 4)));
    struct Case {
        const char* what;
        std::string bytes;
        bool readable;
    };
    const Case cases[] = {
        {"empty file", "", false},
        {"header cut short", std::string("F\x01\x00", 3), false},
        {"not a record file", "PK\x03\x04 zip", false},
        {"field header cut short", kHeader + y + std::string("D\x08\x00", 3), true},
        {"type cut short", kHeader + std::string("Y\x04\x00\x00\x00\x01", 6), false},
        {"time cut short", kHeader + y + std::string("D\x08\x00\x00\x00\x00\x00", 7), false},
        {"data cut short", kHeader + y + b.substr(0, b.size() - 3), false},
        {"data length 0xFFFFFFFF", kHeader + y + "B" + Le32(0xFFFFFFFF) + "xyz", false},
        {"data length 0", kHeader + y + Field('B', ""), false},
        {"data not zlib", kHeader + y + Field('B', "this is not compressed"), false},
        {"type 4 bytes wider", kHeader + Field('Y', Le32(1) + Le32(0)) + d, false},
        {"type 2 bytes", kHeader + Field('Y', std::string("\x01\x00", 2)) + d, false},
        {"time 4 bytes", kHeader + Field('D', Le32(0)) + y, false},
        {"time 12 bytes", kHeader + Field('D', Raw(38442.5) + Le32(0)), false},
        {"time not a number", kHeader + Field('D', std::string("\x00\x00\x00\x00\x00\x00\xF8\x7F", 8)), false},
        {"time infinite", kHeader + Field('D', std::string("\x00\x00\x00\x00\x00\x00\xF0\x7F", 8)), false},
        // The data of an unknown tag is skipped: it must not be read as the
        // "Y" field of a bitmap it looks like.
        {"unknown tag", kHeader + Field('Q', Field('Y', Le32(8))) + y + d + b, true},
        {"title in an item file", kHeader + Field('T', Field('Y', Le32(8))) + y + b, true},
        {"unknown tag past the end", kHeader + y + d + "Q" + Le32(1000) + "abc", true},
        {"unknown tag with huge length", kHeader + y + "Q" + Le32(0xFFFFFFFF), true},
    };
    for (const Case& c : cases) {
        const std::string path = folder / "damaged.tx";
        ASSERT_TRUE(WriteFileBytes(path, c.bytes));
        TextItem item;
        EXPECT_EQ(c.readable, ReadItemFile(item, path)) << c.what;
        if (c.readable) {
            EXPECT_TRUE(item.Text().empty() || item.Text() == L"hi") << c.what;
        }
    }

    // GUID fields: never more than 16 bytes stored; cut short, taken as far as they go.
    const std::string guidBytes = "0123456789abcdef";
    {
        const std::string path = folder / "guid.tx";
        TextItem wide;
        ASSERT_TRUE(WriteFileBytes(path, kHeader + Field('G', guidBytes + "SURPLUS") + d + b));
        ASSERT_TRUE(ReadItemFile(wide, path));
        EXPECT_EQ(guidBytes, Raw(wide.SourceGuid()));
        EXPECT_EQ(38442.5, wide.CaptureTime());
        EXPECT_EQ(L"hi", wide.Text());

        TextItem narrow;
        ASSERT_TRUE(WriteFileBytes(path, kHeader + Field('G', "0123") + d));
        ASSERT_TRUE(ReadItemFile(narrow, path));
        EXPECT_EQ(std::string("0123") + std::string(12, '\0'), Raw(narrow.SourceGuid()));
        EXPECT_EQ(38442.5, narrow.CaptureTime());

        TextItem cut;
        ASSERT_TRUE(WriteFileBytes(path, kHeader + y + "G" + Le32(16) + "01234"));
        ASSERT_TRUE(ReadItemFile(cut, path));
        EXPECT_EQ(std::string("01234") + std::string(11, '\0'), Raw(cut.SourceGuid()));
    }

    // A stream that would expand to 4 GiB stops at the ceiling instead of eating memory.
    {
        const std::string bomb = ZerosStream(4096);
        EXPECT_LT(bomb.size(), 8u << 20);
        const std::string path = folder / "bomb.tx";
        ASSERT_TRUE(WriteFileBytes(path, kHeader + y + Field('B', bomb)));
        TextItem item;
        const SIZE_T peakBefore = PeakMemory();
        const DWORD start = ::GetTickCount();
        EXPECT_FALSE(ReadItemFile(item, path));
        EXPECT_FALSE(item.HasText());
        EXPECT_GT(20000u, ::GetTickCount() - start);
        // Given up without holding what it expanded to.
        EXPECT_GT(peakBefore + (64u << 20), PeakMemory());
        // The same kind of stream, small enough, reads.
        ASSERT_TRUE(WriteFileBytes(path, kHeader + y + Field('B', ZerosStream(2))));
        EXPECT_TRUE(ReadItemFile(item, path));
    }

    // A folder, a missing file, and a file someone else holds open without sharing.
    const std::string directory = folder / "folder.tx";
    ASSERT_TRUE(::CreateDirectoryA(directory.c_str(), nullptr));
    TextItem item;
    EXPECT_FALSE(ReadItemFile(item, directory));
    EXPECT_FALSE(ReadItemFile(item, folder / "missing.tx"));
    const std::string locked = folder / "locked.tx";
    ASSERT_TRUE(WriteFileBytes(locked, kHeader + y + b));
    {
        UniqueFile holder(::CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_FALSE(ReadItemFile(item, locked));
    }
    EXPECT_TRUE(ReadItemFile(item, locked));
    EXPECT_EQ(L"hi", item.Text());
}

// Item files are read while other programs hold them open (indexers, sync
// clients, backups), and a brief lock is waited out.
TEST(ItemFileTest, ReadsShareTheFileAndWaitOutABriefLock) {
    TempFolder folder;
    const std::string path = folder / "a.tx";
    TextItem item;
    ASSERT_TRUE(item.SetText(L"shared"));
    ASSERT_TRUE(WriteItemFile(item, path));
    UniqueFile reader(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    TextItem read;
    EXPECT_TRUE(ReadItemFile(read, path));
    EXPECT_EQ(L"shared", read.Text());
    reader.reset();

    UniqueFile lock(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    std::thread release([&lock] {
        ::Sleep(100);
        lock.reset();
    });
    TextItem waited;
    EXPECT_TRUE(ReadItemFile(waited, path));
    release.join();
    EXPECT_EQ(L"shared", waited.Text());
}
