#include "base/RecordFile.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "base/AllocationCheck.h"
#include "base/Paths.h"
#include "base/RecordFormat.h"

namespace {

// Temporary names start and end so that no reader takes them for a record file.
constexpr char kTemporaryPrefix[] = "~sv";
constexpr char kTemporaryExtension[] = ".partial";

// Large blocks go to WriteFile in slices: it counts in 32 bits.
constexpr size_t kWriteSlice = 1u << 30;

// A file that another program has open without sharing is tried again for
// about this long: long enough for a scanner's look, short enough for a click.
constexpr int kSharingAttempts = 6;
constexpr DWORD kSharingRetryMs = 50;

}  // namespace

bool ReadRecordFile(const std::string& path, Bytes& bytes, uint64_t ceiling, FILETIME* lastWrite) {
    bytes.clear();
    // A missing file fails to open; asking first would only cost another lookup
    // of the path, which under Wine is a good part of reading a small file.
    // A folder cannot be opened this way (no backup semantics), so it fails here.
    UniqueFile file;
    for (int attempt = 0; attempt < kSharingAttempts && !file; ++attempt) {
        if (attempt > 0) ::Sleep(kSharingRetryMs);
        file.reset(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file && ::GetLastError() != ERROR_SHARING_VIOLATION) return false;
    }
    if (!file) return false;
    if (lastWrite && !::GetFileTime(file.get(), nullptr, nullptr, lastWrite)) return false;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > ceiling)
        return false;
    Bytes data;
    CheckAllocation(static_cast<size_t>(size.QuadPart));
    data.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < data.size()) {
        const DWORD wanted = static_cast<DWORD>(std::min(data.size() - done, kWriteSlice));
        DWORD read = 0;
        if (!::ReadFile(file.get(), data.data() + done, wanted, &read, nullptr) || read == 0) return false;
        done += read;
    }
    bytes = std::move(data);
    return true;
}

RecordFileWriter::RecordFileWriter(std::string path, Durability durability)
    : path_(std::move(path)), durability_(durability) {
    const size_t slash = path_.find_last_of('\\');
    const std::string folder = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    temporaryPath_ = MakeUniqueFileName(folder, kTemporaryPrefix, kTemporaryExtension);
    file_.reset(::CreateFileA(temporaryPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    const auto header = RecordHeader();
    failed_ = !file_ || !WriteBytes(header.data(), header.size());
}

RecordFileWriter::~RecordFileWriter() {
    if (temporaryPath_.empty()) return;
    file_.reset();
    ::DeleteFileA(temporaryPath_.c_str());
}

bool RecordFileWriter::WriteBytes(const void* data, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (memory_) {
        if (!failed_) memory_->insert(memory_->end(), bytes, bytes + length);
        return !failed_;
    }
    while (!failed_ && length > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min(length, kWriteSlice));
        DWORD written = 0;
        if (!::WriteFile(file_.get(), bytes, chunk, &written, nullptr) || written != chunk) failed_ = true;
        bytes += chunk;
        length -= chunk;
    }
    return !failed_;
}

bool RecordFileWriter::Field(char tag, const void* data, size_t length) {
    // The length is stored in 32 bits.
    if (length > 0xFFFFFFFFu) failed_ = true;
    if (failed_) return false;
    const auto header = FieldHeader(tag, static_cast<uint32_t>(length));
    return WriteBytes(header.data(), header.size()) && (length == 0 || WriteBytes(data, length));
}

bool RecordFileWriter::TextField(char tag, const std::string& text) {
    if (text.empty()) return !failed_;
    return Field(tag, text.data(), text.size());
}

bool RecordFileWriter::Commit() {
    if (memory_) return !failed_;
    if (temporaryPath_.empty()) return false;
    // The bytes reach the disk before the name does: a rename that outlives a
    // power cut must not leave a file of zeros under the final name.
    if (durability_ == Durability::kFlushed && !failed_ && !::FlushFileBuffers(file_.get())) failed_ = true;
    file_.reset();
    const DWORD flags =
        MOVEFILE_REPLACE_EXISTING | (durability_ == Durability::kFlushed ? MOVEFILE_WRITE_THROUGH : 0);
    const bool moved = !failed_ && ::MoveFileExA(temporaryPath_.c_str(), path_.c_str(), flags) != FALSE;
    if (!moved) ::DeleteFileA(temporaryPath_.c_str());
    temporaryPath_.clear();
    failed_ = !moved;
    return moved;
}

std::string MakeUniqueFileName(const std::string& folder, const char* prefix, const char* extension) {
    GUID guid = {};
    ::CoCreateGuid(&guid);
    std::string name = GuidText(guid);
    std::replace(name.begin(), name.end(), '{', '-');
    std::replace(name.begin(), name.end(), '}', '-');
    return folder + (prefix ? prefix : "") + name + (extension ? extension : "");
}

bool IsTemporaryRecordFile(const char* name) {
    const size_t length = std::strlen(name);
    const size_t prefix = sizeof(kTemporaryPrefix) - 1, extension = sizeof(kTemporaryExtension) - 1;
    return length >= prefix + extension && _strnicmp(name, kTemporaryPrefix, prefix) == 0 &&
           _stricmp(name + length - extension, kTemporaryExtension) == 0;
}

bool IsSyncEngineTemporaryFile(const char* name) {
    const size_t length = std::strlen(name);
    auto startsWith = [&](const char* prefix) { return _strnicmp(name, prefix, std::strlen(prefix)) == 0; };
    auto endsWith = [&](const char* suffix) {
        const size_t count = std::strlen(suffix);
        return length >= count && _stricmp(name + length - count, suffix) == 0;
    };
    // Syncthing (".syncthing.", "~syncthing~" on Windows), Office-style lock
    // and temporary names, and the partial downloads of other engines.
    return startsWith(".syncthing.") || startsWith("~syncthing~") || startsWith("~$") || endsWith(".tmp") ||
           endsWith(".part") || endsWith(".!sync") || endsWith(".~tmp");
}

void RemoveTemporaryRecordFiles(const std::string& folder) {
    // The file system hands over only the names that match, several times quicker
    // than every name of a folder of thousands; the pattern also matches short
    // names, so each is looked at again.
    const std::string pattern = std::string(kTemporaryPrefix) + "*" + kTemporaryExtension;
    ForEachEntry(
        folder,
        [&](const WIN32_FIND_DATAA& entry) {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsTemporaryRecordFile(entry.cFileName))
                ::DeleteFileA((folder + entry.cFileName).c_str());
        },
        pattern.c_str());
}

std::string GuidText(const GUID& guid) {
    // StringFromGUID2's form, written here: a start makes a key of every
    // capture, and the system's call costs many times more under Wine.
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "{00000000-0000-0000-0000-000000000000}";
    auto put = [&](size_t at, unsigned long long value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value >>= 4) text[at + static_cast<size_t>(i)] = kDigits[value & 0xF];
    };
    put(1, guid.Data1, 8);
    put(10, guid.Data2, 4);
    put(15, guid.Data3, 4);
    for (size_t i = 0; i < 8; ++i) put(i < 2 ? 20 + 2 * i : 21 + 2 * i, guid.Data4[i], 2);
    return text;
}
