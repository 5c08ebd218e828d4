#pragma once
// What the upgrade-action tests and the end-to-end runs of the upgrade road
// share: the package cache, a process that holds a file, and the stand-in
// daemon started and stopped around a test. The last two need the build
// paths KV_FILE_LOCKER_PATH and KV_QMTDAEMON_PATH defined.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"

namespace triggertest {

using testsupport::Exists;
using testsupport::ReadBytes;
using testsupport::WindowsPath;
using testsupport::WriteBytes;

inline std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += static_cast<char>(c);
    return out;
}

// The names of the files in a folder.
inline std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

// The product's package cache under the prefix's common application-data
// folder: its folder is made for a test, and the file and the folders the
// test made are removed afterwards.
class PackageCacheFile {
public:
    PackageCacheFile() {
        vrks_ = testsupport::CommonAppData() + L"\\K-Vantor\\VRKS";
        folder_ = vrks_ + L"\\666";
        path_ = folder_ + L"\\packages";
        Remove();
        const int made = ::SHCreateDirectoryExW(nullptr, folder_.c_str(), nullptr);
        if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) ADD_FAILURE() << "cannot make the cache folder";
    }
    PackageCacheFile(const PackageCacheFile&) = delete;
    PackageCacheFile& operator=(const PackageCacheFile&) = delete;
    ~PackageCacheFile() { Remove(); }

    const std::wstring& path() const { return path_; }
    const std::wstring& folder() const { return folder_; }

private:
    void Remove() {
        for (const std::wstring& name : FilesIn(folder_)) ::DeleteFileW((folder_ + L"\\" + name).c_str());
        ::RemoveDirectoryW(folder_.c_str());
        ::RemoveDirectoryW(vrks_.c_str());
    }

    std::wstring vrks_;
    std::wstring folder_;
    std::wstring path_;
};

inline kv::unique_handle StartProcess(const std::wstring& commandLine) {
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return kv::unique_handle();
    }
    ::CloseHandle(process.hThread);
    return kv::unique_handle(process.hProcess);
}

#ifdef KV_FILE_LOCKER_PATH
// Another process holds path open without sharing for holdMs from the
// moment the constructor returns.
class FileHolder {
public:
    FileHolder(const std::wstring& path, DWORD holdMs) {
        const std::wstring eventName = L"Local\\KvTriggerFileHeld_" + std::to_wstring(::GetCurrentProcessId());
        kv::unique_handle held(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        process_ = StartProcess(L"\"" + WindowsPath(KV_FILE_LOCKER_PATH) + L"\" \"" + path + L"\" " +
                                std::to_wstring(holdMs) + L" " + eventName);
        if (!process_ || !held) {
            ADD_FAILURE() << "the file locker did not start";
            return;
        }
        const HANDLE waits[] = {held.get(), process_.get()};
        holding_ = ::WaitForMultipleObjects(2, waits, FALSE, 20000) == WAIT_OBJECT_0;
        if (!holding_) ADD_FAILURE() << "the file locker could not hold the file";
    }
    // Waits until the other process has let the file go.
    ~FileHolder() {
        if (process_) ::WaitForSingleObject(process_.get(), 20000);
    }
    bool holding() const { return holding_; }

private:
    kv::unique_handle process_;
    bool holding_ = false;
};

#endif  // KV_FILE_LOCKER_PATH

#ifdef KV_QMTDAEMON_PATH
// The stand-in daemon (tools/qmtdaemon) listening for a target, recording
// into a file of the scratch folder; stopped through its stop event.
class StandInDaemon {
public:
    explicit StandInDaemon(const testsupport::TempFolder& folder, const std::wstring& target = L"KV_OVS_IPC_DAEMON_USER")
        : target_(target), record_(folder.file(L"daemon-record.txt")) {
        const std::wstring ready = folder.file(L"daemon-ready.txt");
        ::DeleteFileW(record_.c_str());
        process_ = StartProcess(L"\"" + WindowsPath(KV_QMTDAEMON_PATH) + L"\" --target " + target_ + L" --record \"" +
                                record_ + L"\" --ready \"" + ready + L"\" --timeout 90");
        for (int i = 0; process_ && i < 200 && !Exists(ready); ++i) {
            if (::WaitForSingleObject(process_.get(), 50) == WAIT_OBJECT_0) break;
        }
        listening_ = Exists(ready);
        if (!listening_) ADD_FAILURE() << "the stand-in daemon did not start listening";
    }
    StandInDaemon(const StandInDaemon&) = delete;
    StandInDaemon& operator=(const StandInDaemon&) = delete;
    ~StandInDaemon() { Stop(); }

    // Ends the daemon; its exit code (0xFFFFFFFF when it did not end).
    DWORD Stop() {
        if (!process_) return exitCode_;
        kv::unique_handle stop(
            ::OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"Local\\KvQmtDaemonStop_" + target_).c_str()));
        if (stop) ::SetEvent(stop.get());
        if (::WaitForSingleObject(process_.get(), 20000) != WAIT_OBJECT_0) ::TerminateProcess(process_.get(), 99);
        ::GetExitCodeProcess(process_.get(), &exitCode_);
        process_.reset();
        return exitCode_;
    }

    bool listening() const { return listening_; }

    // The record's lines, one per message taken.
    std::vector<std::string> Records() const {
        std::vector<std::string> lines;
        const std::string text = ReadBytes(record_);
        size_t start = 0;
        for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

private:
    std::wstring target_;
    std::wstring record_;
    kv::unique_handle process_;
    bool listening_ = false;
    DWORD exitCode_ = 0xFFFFFFFF;
};

#endif  // KV_QMTDAEMON_PATH

}  // namespace triggertest
