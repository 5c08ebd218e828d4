#include "hosts/HostsFix.h"

#include <windows.h>

#include "common/FileReplacement.h"
#include "hosts/File.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogMessage;

bool HostsFix::exists(const std::wstring& hostsPath, const wchar_t* caller) const {
    if (::GetFileAttributesW(hostsPath.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    LogMessage(KvQmtLogging::LogWarning, L"%s: Hosts file %s does not exist", caller, hostsPath.c_str());
    return false;
}

int HostsFix::hostsFileNeedsRepair() {
    const wchar_t* const kFunction = L"HostsFix::hostsFileNeedsRepair";
    const std::wstring hostsPath = path_.hostsFilePath();
    if (!exists(hostsPath, kFunction)) return 1;
    LineList lines;
    if (File(hostsPath).content(lines) != 0) {
        LogMessage(KvQmtLogging::LogError, L"%s: Cannot read %s file content!", kFunction, hostsPath.c_str());
        return 2;
    }
    if (analyzer_.fixContent(lines, nullptr, nullptr) > 0) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: File %s needs repair!", kFunction, hostsPath.c_str());
        return 0;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: File %s is correct", kFunction, hostsPath.c_str());
    return 1;
}

int HostsFix::fixHostsFile() {
    const wchar_t* const kFunction = L"HostsFix::fixHostsFile";
    const std::wstring hostsPath = path_.hostsFilePath();
    if (!exists(hostsPath, kFunction)) return 0;
    // Read again: the file may have changed since it was checked.
    LineList lines;
    if (File(hostsPath).content(lines) != 0) {
        LogMessage(KvQmtLogging::LogError, L"%s: Cannot read %s file content!", kFunction, hostsPath.c_str());
        return 2;
    }
    return processContent(lines);
}

int HostsFix::processContent(const LineList& lines) {
    const wchar_t* const kFunction = L"HostsFix::processContent";
    LineList kept;
    if (analyzer_.fixContent(lines, &kept, nullptr) == 0) {
        LogMessage(KvQmtLogging::LogDebug, L"%s: File does not need to be fixed", kFunction);
        return 0;
    }
    // The rewrite is only started when the former content is safe in the
    // backup, which is replaced in one step too: a former backup stays
    // whole until the new one is.
    const std::wstring backupPath = path_.backupFilePath();
    if (!replaceContent(backupPath, lines)) {
        LogMessage(KvQmtLogging::LogError, L"%s: Cannot save backup to %s", kFunction, backupPath.c_str());
        LogMessage(KvQmtLogging::LogError, L"%s: Hosts file is left unchanged without a backup", kFunction);
        return 2;
    }
    const std::wstring hostsPath = path_.hostsFilePath();
    if (!replaceContent(hostsPath, kept)) {
        LogMessage(KvQmtLogging::LogError, L"%s: File %s cannot be fixed!", kFunction, hostsPath.c_str());
        return 2;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: File %s has been repaired", kFunction, hostsPath.c_str());
    return 1;
}

int HostsFix::writeLines(const File& file, const LineList& lines) const { return file.setContent(lines); }

bool HostsFix::replaceContent(const std::wstring& path, const LineList& lines) const {
    const wchar_t* const kFunction = L"HostsFix::replaceContent";
    // The new content goes into a file of its own that takes the file's
    // place in one rename, with its access list, owner and attributes: a
    // failure or a crash at any point leaves the file as it was.
    kv::FileReplacement replacement(path);
    if (const DWORD error = replacement.Prepare()) {
        LogMessage(KvQmtLogging::LogError, L"%s: %s beside %s failed with error %lu", kFunction,
                   replacement.FailedCall(), path.c_str(), error);
        return false;
    }
    if (writeLines(File(replacement.TemporaryPath()), lines) != 0) return false;
    if (const DWORD error = replacement.Commit()) {
        LogMessage(KvQmtLogging::LogError, L"%s: %s for %s failed with error %lu", kFunction, replacement.FailedCall(),
                   path.c_str(), error);
        return false;
    }
    // Left to the restore phase, which writes the recorded owner back.
    if (!replacement.OwnerKept()) {
        LogMessage(KvQmtLogging::LogDebug, L"%s: %s carries a new owner for now", kFunction, path.c_str());
    }
    return true;
}
