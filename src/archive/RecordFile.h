// The framing shared by item, capture record and application files: "F", the
// words 1 and 0, then tagged fields (tag letter, 32-bit length, data).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/UniqueHandle.h"

// Creates (replacing) a record file for writing, readable by others meanwhile.
UniqueFile CreateRecordFile(const std::string& path);
// Opens an existing record file for reading with no sharing; empty when it does
// not exist, may not be read or is not a file.
UniqueFile OpenRecordFile(const std::string& path);

bool WriteRecordHeader(HANDLE file);
// Checks the "F" (either case) and reads past the two version words.
bool ReadRecordHeader(HANDLE file);

bool WriteField(HANDLE file, char tag, const void* data, uint32_t length);
// Writes nothing (and succeeds) for empty text; otherwise the bytes without terminator.
bool WriteTextField(HANDLE file, char tag, const std::string& text);
// False at the end of the file, including when fewer than five bytes are left.
bool ReadFieldHeader(HANDLE file, char& tag, uint32_t& length);
// Whether `length` more bytes follow the file position: checked before a field's
// data is read into memory, so a damaged length cannot make a huge allocation.
bool FieldFitsInFile(HANDLE file, uint32_t length);
// Moves past `length` bytes of field data; false when the file is shorter.
bool SkipFieldData(HANDLE file, uint32_t length);
// Reads a fixed-width field: up to `width` bytes into `out` (fewer when the field is
// shorter), skips any surplus. `read` tells how many bytes were stored.
bool ReadFixedField(HANDLE file, uint32_t length, void* out, uint32_t width, uint32_t& read);

// folder + prefix + a new GUID with its braces as "-" + extension.
std::string MakeUniqueFileName(const std::string& folder, const char* prefix, const char* extension);

// The capture time (UTC OLE date) as local time; false for a time out of range.
bool CaptureTimeToLocal(double captureTime, SYSTEMTIME& local);
// "d_M_yyyy" of the capture time's local date.
std::string DateFolderName(double captureTime);

// Window titles are ANSI in memory and UTF-8 on disk.
std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);
// Longest window title the program keeps, in ANSI characters.
constexpr size_t kMaxTitleChars = 519;
