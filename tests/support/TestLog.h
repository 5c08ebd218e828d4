#pragma once
// Reads what a program wrote to its log file since a mark: the log is UTF-16
// with a byte-order mark under the common application-data folder. A test
// program's own log is configured and read back here too.
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"
#include "log/Logger.h"

namespace testsupport {

inline std::wstring LogFilePath(const std::wstring& component, const std::wstring& logName) {
    wchar_t folder[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    return std::wstring(folder) + L"\\K-Vantor\\logs\\" + component + L"\\" + logName + L".log";
}

inline std::wstring ReadUtf16File(const std::wstring& path) {
    kv::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::wstring();
    std::vector<char> bytes;
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.insert(bytes.end(), chunk, chunk + read);
    }
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
    if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
    return text;
}

// The lines a run added: everything after the length seen at construction.
// When the file was rotated meanwhile, the run's first lines went with the
// old file into X.1.log and come first.
class LogMark {
public:
    LogMark(const std::wstring& component, const std::wstring& logName)
        : path_(LogFilePath(component, logName)), start_(ReadUtf16File(path_).size()) {}

    std::wstring NewText() const {
        const std::wstring text = ReadUtf16File(path_);
        if (text.size() >= start_) return text.substr(start_);
        const std::wstring older = ReadUtf16File(path_.substr(0, path_.size() - 4) + L".1.log");
        return (older.size() >= start_ ? older.substr(start_) : std::wstring()) + text;
    }

private:
    std::wstring path_;
    size_t start_;
};

// The log name a test program gave its own log (component "Test").
inline std::wstring& TestLogName() {
    static std::wstring name;
    return name;
}

// Configures the process-wide logger of a test program once.
inline void ConfigureTestLog(const wchar_t* logName) {
    KvQmtLogging::GetLogger().Configure(0, L"Test", logName);
    TestLogName() = logName;
}

// The text this process wrote to its own test log since the object was made.
class LogCapture {
public:
    LogCapture() : mark_(L"Test", TestLogName()) {}
    std::wstring text() const { return mark_.NewText(); }
    bool contains(const std::wstring& piece) const { return text().find(piece) != std::wstring::npos; }

private:
    LogMark mark_;
};

inline bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

}  // namespace testsupport
