#include "archive/RecordFile.h"

#include <io.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cmath>

#include "items/CodePage.h"

UniqueFile CreateRecordFile(const std::string& path) {
    return UniqueFile(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

UniqueFile OpenRecordFile(const std::string& path) {
    if (_access(path.c_str(), 4) != 0) return UniqueFile();
    // A folder cannot be opened this way (no backup semantics), so it fails here.
    return UniqueFile(
        ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

namespace {

bool WriteAll(HANDLE file, const void* data, DWORD length) {
    DWORD written = 0;
    return ::WriteFile(file, data, length, &written, nullptr) && written == length;
}

bool ReadAll(HANDLE file, void* data, DWORD length) {
    DWORD read = 0;
    return ::ReadFile(file, data, length, &read, nullptr) && read == length;
}

}  // namespace

bool WriteRecordHeader(HANDLE file) {
    const uint8_t header[5] = {'F', 1, 0, 0, 0};
    return WriteAll(file, header, sizeof(header));
}

bool ReadRecordHeader(HANDLE file) {
    char mark = 0;
    if (!ReadAll(file, &mark, 1) || (mark != 'F' && mark != 'f')) return false;
    uint16_t words[2];
    return ReadAll(file, words, sizeof(words));
}

bool WriteField(HANDLE file, char tag, const void* data, uint32_t length) {
    if (!WriteAll(file, &tag, 1)) return false;
    if (!WriteAll(file, &length, sizeof(length))) return false;
    return length == 0 || WriteAll(file, data, length);
}

bool WriteTextField(HANDLE file, char tag, const std::string& text) {
    if (text.empty()) return true;
    return WriteField(file, tag, text.data(), static_cast<uint32_t>(text.size()));
}

bool ReadFieldHeader(HANDLE file, char& tag, uint32_t& length) {
    uint8_t header[5];
    if (!ReadAll(file, header, sizeof(header))) return false;
    tag = static_cast<char>(header[0]);
    length = static_cast<uint32_t>(header[1]) | static_cast<uint32_t>(header[2]) << 8 |
             static_cast<uint32_t>(header[3]) << 16 | static_cast<uint32_t>(header[4]) << 24;
    return true;
}

bool FieldFitsInFile(HANDLE file, uint32_t length) {
    LARGE_INTEGER here = {}, size = {};
    if (!::SetFilePointerEx(file, here, &here, FILE_CURRENT) || !::GetFileSizeEx(file, &size)) return false;
    return size.QuadPart - here.QuadPart >= static_cast<LONGLONG>(length);
}

bool SkipFieldData(HANDLE file, uint32_t length) {
    if (!FieldFitsInFile(file, length)) return false;
    LARGE_INTEGER move;
    move.QuadPart = length;
    return ::SetFilePointerEx(file, move, nullptr, FILE_CURRENT) != FALSE;
}

bool ReadFixedField(HANDLE file, uint32_t length, void* out, uint32_t width, uint32_t& read) {
    const uint32_t wanted = std::min(length, width);
    DWORD got = 0;
    if (!::ReadFile(file, out, wanted, &got, nullptr)) got = 0;
    read = got;
    if (got < wanted) return false;
    return length == wanted || SkipFieldData(file, length - wanted);
}

std::string MakeUniqueFileName(const std::string& folder, const char* prefix, const char* extension) {
    GUID guid = {};
    ::CoCreateGuid(&guid);
    wchar_t text[64] = {};
    ::StringFromGUID2(guid, text, 64);
    std::string name;
    for (const wchar_t* p = text; *p; ++p) name += (*p == L'{' || *p == L'}') ? '-' : static_cast<char>(*p);
    return folder + (prefix ? prefix : "") + name + (extension ? extension : "");
}

bool CaptureTimeToLocal(double captureTime, SYSTEMTIME& local) {
    if (!std::isfinite(captureTime)) return false;
    SYSTEMTIME utc;
    FILETIME utcFile, localFile;
    return ::VariantTimeToSystemTime(captureTime, &utc) && ::SystemTimeToFileTime(&utc, &utcFile) &&
           ::FileTimeToLocalFileTime(&utcFile, &localFile) && ::FileTimeToSystemTime(&localFile, &local);
}

std::string DateFolderName(double captureTime) {
    SYSTEMTIME local;
    if (!CaptureTimeToLocal(captureTime, local)) return {};
    char text[64] = {};
    if (::GetDateFormatA(LOCALE_SYSTEM_DEFAULT, 0, &local, "d_M_yyyy", text, sizeof(text)) <= 0) return {};
    return text;
}

std::string AnsiToUtf8(const std::string& ansi) { return ToMultiByte(ToWide(ansi, CP_ACP), CP_UTF8); }

std::string Utf8ToAnsi(const std::string& utf8) {
    std::string ansi = ToMultiByte(ToWide(utf8, CP_UTF8), CP_ACP);
    if (ansi.size() > kMaxTitleChars) ansi.resize(kMaxTitleChars);
    return ansi;
}
