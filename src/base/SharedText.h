// Texts that many objects hold alike (a capture's window title and program, the
// folder of a file's path), kept once in memory for each distinct value.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

// An immutable text from a pool shared by every thread: equal texts share one
// copy, which goes when its last holder does. Reads like a const std::string.
class SharedText {
public:
    SharedText() = default;
    SharedText(std::string_view text);
    SharedText(const std::string& text) : SharedText(std::string_view(text)) {}
    SharedText(const char* text) : SharedText(std::string_view(text ? text : "")) {}

    const std::string& str() const { return text_ ? *text_ : Empty(); }
    operator const std::string&() const { return str(); }
    const char* c_str() const { return str().c_str(); }
    bool empty() const { return !text_; }
    size_t size() const { return text_ ? text_->size() : 0; }
    void clear() { text_.reset(); }

    friend bool operator==(const SharedText& a, const SharedText& b) {
        return a.text_ == b.text_ || a.str() == b.str();
    }
    friend bool operator==(const SharedText& a, std::string_view b) { return std::string_view(a.str()) == b; }
    friend bool operator==(const SharedText& a, const std::string& b) { return a.str() == b; }
    friend bool operator==(const SharedText& a, const char* b) { return a.str() == std::string_view(b ? b : ""); }

private:
    static const std::string& Empty();

    std::shared_ptr<const std::string> text_;
};

// Orders GUIDs as their registry texts (GuidText) sort.
struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const;
};

// A file's full path, kept as its folder (a SharedText, shared by the folder's
// every file) and its name; the program's own names (a letter or none, a GUID
// between dashes, a short extension: see MakeUniqueFileName) take 16 bytes and
// no text of their own. Reads like a std::string made when asked.
class StoredPath {
public:
    StoredPath() = default;
    StoredPath(std::string_view path);
    StoredPath(const std::string& path) : StoredPath(std::string_view(path)) {}
    StoredPath(const char* path) : StoredPath(std::string_view(path ? path : "")) {}

    std::string str() const;
    operator std::string() const { return str(); }
    bool empty() const { return head_.empty(); }

    friend bool operator==(const StoredPath& a, const StoredPath& b) { return a.str() == b.str(); }
    friend bool operator==(const StoredPath& a, std::string_view b) { return a.str() == b; }
    friend bool operator==(const StoredPath& a, const std::string& b) { return a.str() == b; }
    friend bool operator==(const StoredPath& a, const char* b) { return a.str() == std::string_view(b ? b : ""); }

private:
    // The folder with its "\" when the name is of the program's form, else
    // the whole path.
    SharedText head_;
    GUID guid_ = {};
    char prefix_ = 0;
    char extension_[6] = {};
    bool guidName_ = false;
};
