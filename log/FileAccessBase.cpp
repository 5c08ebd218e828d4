#include "log/FileAccessBase.h"

#include <algorithm>

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
const size_t kGuardedFolderLevels = kLogPathOwnComponents - 1;
// The maker's folder, when this writer makes it, is for administrators: the
// common folder above would let every user create in it.
const wchar_t kMakerFolderSddl[] = L"D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGX;;;BU)";

void ReportRefusedFolder(const std::wstring& folder) {
    std::wstring message = L"kv_qmt_log!FileAccessBase: refused ";
    message += folder;
    message += L": a folder of the log is a link or cannot be held\n";
    OutputDebugStringW(message.c_str());
}

// The folders of the path, the file left out: "C:\a\b\f" gives "C:", "a", "b".
std::vector<std::wstring> FoldersOf(const std::wstring& path) {
    std::vector<std::wstring> folders;
    size_t begin = 0;
    for (size_t separator = path.find(L'\\'); separator != std::wstring::npos;
         separator = path.find(L'\\', begin)) {
        folders.push_back(path.substr(begin, separator - begin));
        begin = separator + 1;
    }
    return folders;
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
      fileName_(path_.substr(path_.rfind(L'\\') == std::wstring::npos ? 0 : path_.rfind(L'\\') + 1)),
      maxSize_(maxSize <= 2 ? kMinMaxSize : maxSize),
      rotateCount_(rotateCount >= 100 ? kMaxRotateCount : rotateCount),
      lowLevel_(std::move(lowLevel)),
      fileUtils_(std::move(fileUtils)) {
    mutex_ = CreateLogMutex(MakeLogMutexName(path_).c_str());
    // Not virtual dispatch here: the kinds share the base's folder creation.
    FileAccessBase::CreateParentDirectory();
}

FileAccessBase::~FileAccessBase() {
    lowLevel_->Close();
}

HANDLE FileAccessBase::LogFolder() const {
    return heldFolders_.empty() ? INVALID_HANDLE_VALUE : heldFolders_.back().get();
}

bool FileAccessBase::CreateParentDirectory() {
    if (!heldFolders_.empty()) return true;
    const std::vector<std::wstring> folders = FoldersOf(path_);
    // Only a path with a folder above the guarded ones (the common
    // application-data folder) has a log to write.
    if (folders.size() < 2 || folders.front().empty()) return false;
    const size_t guarded = std::min(kGuardedFolderLevels, folders.size() - 1);
    std::wstring base = folders.front();
    for (size_t i = 1; i < folders.size() - guarded; ++i) base += L"\\" + folders[i];
    if (base.size() == 2 && base[1] == L':') base += L'\\';
    kv::unique_hfile parent = fileUtils_->OpenFolder(nullptr, base.c_str(), nullptr);
    if (!parent) return false;
    kv::SddlSecurityAttributes makerFolder(kMakerFolderSddl);
    // The log's own folder is open to everyone, as the processes of every
    // account write the same logs; "logs" keeps what it inherits.
    kv::SddlSecurityAttributes logFolder(kEveryoneFullAccessSddl);
    std::vector<kv::unique_hfile> held;
    for (size_t i = folders.size() - guarded; i < folders.size(); ++i) {
        SECURITY_ATTRIBUTES* attributes = nullptr;
        if (i + 1 == folders.size()) {
            attributes = logFolder.get();
        } else if (held.empty()) {
            attributes = makerFolder.get();
        }
        kv::unique_hfile folder = fileUtils_->OpenFolder(held.empty() ? parent.get() : held.back().get(),
                                                         folders[i].c_str(), attributes);
        if (!folder) {
            ReportRefusedFolder(folders[i]);
            return false;
        }
        held.push_back(std::move(folder));
    }
    heldFolders_ = std::move(held);
    return !heldFolders_.empty();
}

void FileAccessBase::EnsureOpen() {
    if (!lowLevel_->IsOpen() && CreateParentDirectory()) lowLevel_->Open(LogFolder(), fileName_.c_str());
}

bool FileAccessBase::NeedsRotation() {
    // Only a file that was opened and found full or foreign: one that could
    // not be opened says nothing about the older files.
    return lowLevel_->IsOpen() && (lowLevel_->HasForeignContent() || lowLevel_->GetSize() > maxSize_);
}

void FileAccessBase::Rotate() {
    lowLevel_->Close();
    if (!CreateParentDirectory()) return;
    if (rotateCount_ == 0) {
        DeleteLogFile(fileName_.c_str());
        EnsureOpen();
        return;
    }
    for (unsigned i = rotateCount_ + 1; i-- > 0;) {
        const std::wstring from = RotatedName(fileName_, i);
        // A link in place of an older file is never moved or deleted.
        if (!fileUtils_->FileExists(LogFolder(), from.c_str())) continue;
        if (i == rotateCount_) {
            DeleteLogFile(from.c_str());
        } else {
            fileUtils_->RenameFile(LogFolder(), from.c_str(), RotatedName(fileName_, i + 1).c_str());
        }
    }
    EnsureOpen();
}

std::wstring FileAccessBase::MakeDeleteName(const wchar_t* name) {
    std::wstring candidate;
    for (int n = 1; n <= 99; ++n) {
        candidate = DeleteNameCandidate(name, n);
        if (!fileUtils_->FileExists(LogFolder(), candidate.c_str())) break;
    }
    return candidate;
}

}  // namespace KvQmtLogging
