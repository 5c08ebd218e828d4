#pragma once
// Reads back what a program wrote to its log file: the log is UTF-16 with a
// byte-order mark under the common application-data folder. A test program's
// own log is configured and read back here too.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "log/KvQmtLog.h"
#include "log/Logger.h"
#include "tests/support/TestFiles.h"

namespace testsupport {

inline std::wstring LogFilePath(const std::wstring& component, const std::wstring& logName) {
    return CommonAppData() + L"\\K-Vantor\\logs\\" + component + L"\\" + logName + L".log";
}

// The text of UTF-16 bytes, without their byte-order mark.
inline std::wstring Utf16Text(const std::string& bytes) {
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
    if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
    return text;
}

// Empty when the file cannot be read.
inline std::wstring ReadUtf16File(const std::wstring& path) { return Utf16Text(ReadBytes(path)); }

// The text split after each CR LF, which each line keeps; a last piece
// without CR LF comes as it is.
inline std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find(L"\r\n", start);
        const size_t next = end == std::wstring::npos ? text.size() : end + 2;
        lines.push_back(text.substr(start, next - start));
        start = next;
    }
    return lines;
}

// The lines of a whole log file; a file without the byte-order mark or with
// an odd byte count fails the test.
inline std::vector<std::wstring> ReadLogLines(const std::wstring& path) {
    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(0, bytes.compare(0, 2, "\xFF\xFE")) << "no byte-order mark";
    EXPECT_EQ(0u, bytes.size() % 2) << "odd byte count";
    return SplitLines(Utf16Text(bytes));
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
