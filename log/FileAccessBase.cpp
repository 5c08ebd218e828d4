#include "FileAccessBase.h"

#include "LogNames.h"
#include "SecurityDescriptor.h"

namespace KvQmtLogging {

namespace {
const unsigned kMaxRotateCount = 99;
const DWORD kMinMaxSize = 3;

const char kLogMutexSddl[] =
    "D:(D;OICI;GA;;;AN)(A;OICI;GA;;;BA)(A;OICI;GA;;;LA)(A;OICI;GA;;;SY)"
    "(A;OICI;GRGWGX;;;AU)(A;OICI;GRGWGX;;;BU)(A;OICI;GRGWGX;;;BG)";
const char kEveryoneFullAccessSddl[] = "D:(A;OICI;GA;;;WD)";
}  // namespace

kv::unique_handle CreateLogMutex(const wchar_t* name) {
    SddlSecurityAttributes security(kLogMutexSddl);
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

void FileAccessBase::EnsureOpen() {
    if (!lowLevel_->IsOpen()) lowLevel_->Open(path_.c_str());
}

bool FileAccessBase::NeedsRotation() {
    return lowLevel_->HasForeignContent() || lowLevel_->GetSize() > maxSize_;
}

void FileAccessBase::Rotate() {
    lowLevel_->Close();
    if (rotateCount_ == 0) {
        DeleteLogFile(path_.c_str());
        lowLevel_->Open(path_.c_str());
        return;
    }
    for (unsigned i = rotateCount_ + 1; i-- > 0;) {
        const std::wstring from = RotatedName(path_, i);
        if (i == rotateCount_) {
            if (fileUtils_->FileExists(from.c_str())) DeleteLogFile(from.c_str());
        } else if (fileUtils_->FileExists(from.c_str())) {
            fileUtils_->RenameFile(from.c_str(), RotatedName(path_, i + 1).c_str());
        }
    }
    lowLevel_->Open(path_.c_str());
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
    SddlSecurityAttributes security(kEveryoneFullAccessSddl);
    fileUtils_->CreateDirectoryRecursive(file.substr(0, lastSeparator).c_str(), security.get());
}

}  // namespace KvQmtLogging
