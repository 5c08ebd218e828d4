#include "tests/hosts/HostsTestSupport.h"

#include <atomic>
#include <cstdio>

#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"
#include "log/Logger.h"

namespace {

std::wstring g_logPath;

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

}  // namespace

TempFolder::TempFolder(const wchar_t* tag) {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    wchar_t name[MAX_PATH];
    _snwprintf(name, MAX_PATH, L"%skvhosts-%s-%lu-%d", temp, tag, ::GetCurrentProcessId(), counter++);
    name[MAX_PATH - 1] = L'\0';
    path_ = name;
    RemoveTree(path_);
    ::CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(path_); }


void ConfigureTestLog(const wchar_t* logName) {
    KvQmtLogging::GetLogger().Configure(0, L"Test", logName);
    wchar_t data[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
    g_logPath = std::wstring(data) + L"\\K-Vantor\\logs\\Test\\" + logName + L".log";
}

LogCapture::LogCapture() : start_(ReadBytes(g_logPath)) {}

std::wstring LogCapture::text() const {
    const std::string now = ReadBytes(g_logPath);
    // A rotation in between starts the file anew.
    const size_t from = now.size() >= start_.size() ? start_.size() : 0;
    std::wstring text;
    for (size_t i = from; i + 1 < now.size(); i += 2) {
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(now[i]) |
                                            (static_cast<unsigned char>(now[i + 1]) << 8)));
    }
    return text;
}
