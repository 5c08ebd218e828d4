#include "stub/InstallerFile.h"

#include <vector>

#include "log/KvQmtLog.h"
#include "stub/StubInstaller.h"

using KvQmtLogging::LogError;
using KvQmtLogging::LogMessage;
using KvQmtLogging::LogWarning;

namespace {

// A planted name is skipped; so many in a row mean someone is racing us.
constexpr int kMaxNameAttempts = 16;

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

bool InstallerFile::Create(SECURITY_ATTRIBUTES* security) {
    return Create(security, NameSource([](std::wstring& name) { return MakeStubTargetName(name); }));
}

bool InstallerFile::Create(SECURITY_ATTRIBUTES* security, const std::wstring& folder) {
    return Create(security, NameSource([&folder](std::wstring& name) { return MakeStubTargetName(folder, name); }));
}

bool InstallerFile::Create(SECURITY_ATTRIBUTES* security, const NameSource& nextName) {
    const wchar_t* const kFunction = L"InstallerFile::Create";
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        std::wstring candidate;
        if (!nextName(candidate)) return false;
        write_.reset(::CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, security,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!write_) {
            const DWORD error = ::GetLastError();
            // A folder or a file about to be deleted under the name is
            // refused as access denied: someone else's as well.
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED) {
                LogMessage(LogWarning, L"%s: '%s' exists already and is not ours, taking another name", kFunction,
                           candidate.c_str());
                continue;
            }
            LogMessage(LogError, L"%s: CreateFile(%s) failed: %lu", kFunction, candidate.c_str(), error);
            return false;
        }
        if (!::GetFileInformationByHandle(write_.get(), &created_)) {
            LogMessage(LogError, L"%s: GetFileInformationByHandle(%s) failed: %lu", kFunction, candidate.c_str(),
                       ::GetLastError());
            write_.reset();
            return false;
        }
        path_ = candidate;
        return true;
    }
    LogMessage(LogError, L"%s: Every one of %d temporary names was taken", kFunction, kMaxNameAttempts);
    return false;
}

bool InstallerFile::Hold() {
    const wchar_t* const kFunction = L"InstallerFile::Hold";
    // A reader that shares reading only cannot be opened beside our writer,
    // so a bridge that shares writing (but never deleting) is opened first:
    // with it the file can be neither renamed nor deleted while the writer
    // goes and the reader comes. A writer that got in between makes the
    // reader fail; what was written before it is covered by the signature
    // check, which reads through the reader.
    kv::unique_hfile bridge(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!bridge) {
        LogMessage(LogError, L"%s: CreateFile(%s) failed: %lu", kFunction, path_.c_str(), ::GetLastError());
        return false;
    }
    write_.reset();
    held_.reset(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held_) {
        LogMessage(LogError, L"%s: CreateFile(%s) failed: %lu", kFunction, path_.c_str(), ::GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION now = {};
    if (!::GetFileInformationByHandle(held_.get(), &now) || !SameFile(now, created_)) {
        LogMessage(LogError, L"%s: '%s' is no longer the file that was downloaded", kFunction, path_.c_str());
        held_.reset();
        return false;
    }
    return true;
}

bool InstallerFile::Verify(wchar_t* errorText) const {
    if (!held_) {
        if (errorText != nullptr) wcsncpy(errorText, L"file is not held", kSignatureErrorChars - 1);
        return false;
    }
    return VerifyStubSignature(path_.c_str(), held_.get(), errorText);
}

bool InstallerFile::CopyFrom(const std::wstring& source, DWORD maxBytes) {
    const wchar_t* const kFunction = L"InstallerFile::CopyFrom";
    kv::unique_hfile from(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!from || !::GetFileInformationByHandle(from.get(), &information)) {
        LogMessage(LogError, L"%s: '%s' cannot be read: %lu", kFunction, source.c_str(), ::GetLastError());
        return false;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        LogMessage(LogError, L"%s: '%s' is a folder", kFunction, source.c_str());
        return false;
    }
    std::vector<BYTE> chunk(64 * 1024);
    ULONGLONG copied = 0;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(from.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
            LogMessage(LogError, L"%s: ReadFile(%s) failed: %lu", kFunction, source.c_str(), ::GetLastError());
            return false;
        }
        if (read == 0) return true;
        copied += read;
        // Counted as read, not as announced: the file may grow meanwhile.
        if (copied > maxBytes) {
            LogMessage(LogError, L"%s: '%s' is larger than the limit of %lu bytes", kFunction, source.c_str(),
                       maxBytes);
            return false;
        }
        DWORD written = 0;
        if (!::WriteFile(write_.get(), chunk.data(), read, &written, nullptr) || written != read) {
            LogMessage(LogError, L"%s: WriteFile(%s) failed: %lu", kFunction, path_.c_str(), ::GetLastError());
            return false;
        }
    }
}

bool InstallerFile::Run(const std::wstring& arguments, const std::wstring& folder, kv::unique_handle* process) {
    if (!held_) return false;
    const bool started = RunStub(path_.c_str(), arguments, folder, process);
    held_.reset();
    return started;
}

void InstallerFile::Discard() {
    write_.reset();
    held_.reset();
    if (path_.empty()) return;
    ::DeleteFileW(path_.c_str());
    // The empty file that kept the name taken: the path without ".exe".
    const size_t extension = path_.size() > 4 ? path_.size() - 4 : 0;
    if (extension != 0 && path_.compare(extension, 4, L".exe") == 0) {
        ::DeleteFileW(path_.substr(0, extension).c_str());
    }
    path_.clear();
}
