#include "log/FileAccessBase.h"

#include "common/SddlSecurityAttributes.h"
#include "log/LogNames.h"
#include "log/PathIdentity.h"

namespace KvQmtLogging {

namespace {
const unsigned kMaxRotateCount = 99;
const DWORD kMinMaxSize = 3;

const wchar_t kLogMutexSddl[] =
    L"D:(D;OICI;GA;;;AN)(A;OICI;GA;;;BA)(A;OICI;GA;;;LA)(A;OICI;GA;;;SY)"
    L"(A;OICI;GRGWGX;;;AU)(A;OICI;GRGWGX;;;BU)(A;OICI;GRGWGX;;;BG)";
const wchar_t kEveryoneFullAccessSddl[] = L"D:(A;OICI;GA;;;WD)";

// The log's own folder, "logs" and the maker's folder above it.
const int kGuardedFolderLevels = kLogPathOwnComponents - 1;

void ReportRefusedPath(const wchar_t* path) {
    std::wstring message = L"kv_qmt_log!FileAccessBase: refused ";
    message += path;
    message += L": a folder of the log or the file is a junction or link\n";
    OutputDebugStringW(message.c_str());
}
}  // namespace

kv::unique_handle CreateLogMutex(const wchar_t* name) {
    kv::SddlSecurityAttributes security(kLogMutexSddl);
    kv::unique_handle mutex(CreateMutexW(security.get(), FALSE, name));
    if (!mutex && GetLastError() == ERROR_ACCESS_DENIED) {
        // Made by a process whose rights this one lacks: waiting is all we need.
        mutex.reset(OpenMutexW(SYNCHRONIZE, FALSE, name));
    }
    return mutex;
}

FileAccessBase::FileAccessBase(unsigned rotateCount, DWORD maxSize, const wchar_t* path,
                               std::unique_ptr<FileLowLevel> lowLevel, std::unique_ptr<FileUtils> fileUtils)
    : path_(path),
      maxSize_(maxSize <= 2 ? kMinMaxSize : maxSize),
      rotateCount_(rotateCount >= 100 ? kMaxRotateCount : rotateCount),
      lowLevel_(std::move(lowLevel)),
      fileUtils_(std::move(fileUtils)) {
    mutex_ = CreateLogMutex(MakeLogMutexName(path_).c_str());
    // Not virtual dispatch here: the kinds share the base's folder creation.
    FileAccessBase::CreateParentDirectory(path_.c_str());
}

FileAccessBase::~FileAccessBase() {
    lowLevel_->Close();
}

bool FileAccessBase::PathIsSafe(const wchar_t* file) {
    std::wstring folder = path_;
    for (int level = 0; level < kGuardedFolderLevels; ++level) {
        const size_t separator = folder.rfind(L'\\');
        if (separator == std::wstring::npos || separator == 0) break;
        folder.resize(separator);
        if (fileUtils_->IsReparsePoint(folder.c_str())) {
            ReportRefusedPath(folder.c_str());
            return false;
        }
    }
    if (file && fileUtils_->IsReparsePoint(file)) {
        ReportRefusedPath(file);
        return false;
    }
    return true;
}

void FileAccessBase::EnsureOpen() {
    if (!lowLevel_->IsOpen() && PathIsSafe(path_.c_str())) lowLevel_->Open(path_.c_str());
}

bool FileAccessBase::NeedsRotation() {
    // Only a file that was opened and found full or foreign: one that could
    // not be opened says nothing about the older files.
    return lowLevel_->IsOpen() && (lowLevel_->HasForeignContent() || lowLevel_->GetSize() > maxSize_);
}

void FileAccessBase::Rotate() {
    lowLevel_->Close();
    if (!PathIsSafe(nullptr)) return;
    if (rotateCount_ == 0) {
        if (!PathIsSafe(path_.c_str())) return;
        DeleteLogFile(path_.c_str());
        EnsureOpen();
        return;
    }
    for (unsigned i = rotateCount_ + 1; i-- > 0;) {
        const std::wstring from = RotatedName(path_, i);
        // A link in place of an older file is never moved or deleted.
        if (!PathIsSafe(from.c_str())) continue;
        if (i == rotateCount_) {
            if (fileUtils_->FileExists(from.c_str())) DeleteLogFile(from.c_str());
        } else if (fileUtils_->FileExists(from.c_str())) {
            fileUtils_->RenameFile(from.c_str(), RotatedName(path_, i + 1).c_str());
        }
    }
    EnsureOpen();
}

std::wstring FileAccessBase::MakeDeleteName(const wchar_t* path) {
    std::wstring name;
    for (int n = 1; n <= 99; ++n) {
        name = DeleteNameCandidate(path, n);
        if (!fileUtils_->FileExists(name.c_str())) break;
    }
    return name;
}

void FileAccessBase::CreateParentDirectory(const wchar_t* path) {
    const std::wstring file(path);
    const size_t lastSeparator = file.rfind(L'\\');
    if (lastSeparator == std::wstring::npos || lastSeparator == 0) return;
    if (!PathIsSafe(path)) return;
    // The log's own folder is open to everyone, as the processes of every
    // account write the same logs; the folders above keep what they inherit.
    kv::SddlSecurityAttributes security(kEveryoneFullAccessSddl);
    fileUtils_->CreateDirectoryRecursive(file.substr(0, lastSeparator).c_str(), security.get());
}

}  // namespace KvQmtLogging
