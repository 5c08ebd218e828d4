#include "stub/StubInstaller.h"

#include <memory>
#include <utility>
#include <vector>

#include "common/SddlSecurityAttributes.h"
#include "download/DownloadCallback.h"
#include "download/Downloader.h"
#include "download/DownloadResult.h"
#include "download/File.h"
#include "download/Url.h"
#include "log/KvQmtLog.h"
#include "stub/InstallerFile.h"
#include "stub/InstallerFolder.h"

using KvQmtLogging::LogDebug;
using KvQmtLogging::LogError;
using KvQmtLogging::LogInfo;
using KvQmtLogging::LogMessage;
using KvQmtLogging::LogWarning;

const wchar_t kStubTargetSddl[] =
    L"D:"
    L"(D;OICI;GA;;;AN)"
    L"(D;OICI;GA;;;NU)"
    L"(D;OICI;GA;;;LS)"
    L"(A;OICI;0x1200a9;;;BG)"
    L"(A;OICI;0x1200a9;;;BU)"
    L"(A;OICI;GA;;;BA)"
    L"(A;OICI;GA;;;LA)"
    L"(A;OICI;GA;;;SY)";

const wchar_t kInstallerFileName[] = L"K-VantorNetworkInstaller.exe";

bool MakeStubTargetName(std::wstring& target) {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) return false;
    return MakeStubTargetName(folder, target);
}

bool MakeStubTargetName(const std::wstring& folder, std::wstring& target) {
    wchar_t name[MAX_PATH] = {};
    if (::GetTempFileNameW(folder.c_str(), L"kvc", 0, name) == 0) return false;
    // The empty .tmp file keeps the name taken; the installer goes beside it
    // under a name that can be started.
    target = std::wstring(name) + L".exe";
    return true;
}

void DlCallback(void* context, DWORD kind, DWORD first, DWORD second) {
    const wchar_t* const kFunction = L"DlCallback";
    StubDownloadContext* const download = static_cast<StubDownloadContext*>(context);
    if (kind != QmtDownload::DownloadFinished) {
        LogMessage(LogDebug, L"%s: Download progress %lu/%lu", kFunction, first, second);
        return;
    }
    LogMessage(LogInfo, L"%s: Download finished", kFunction);
    if (download == nullptr) return;
    // The main thread reads the result once the event is set, so it is
    // stored first.
    download->result = static_cast<int>(first);
    if (download->waiter != nullptr) download->waiter->DownloadEnded();
    ::SetEvent(download->event.get());
}

namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* lead) {
    const size_t length = wcslen(lead);
    return text.size() >= length && _wcsnicmp(text.c_str(), lead, length) == 0;
}

// This process's environment with TEMP and TMP naming the folder instead.
std::vector<wchar_t> EnvironmentWithTemp(const std::wstring& folder) {
    std::vector<wchar_t> block;
    if (wchar_t* strings = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
            const std::wstring text(entry);
            if (StartsWithNoCase(text, L"TEMP=") || StartsWithNoCase(text, L"TMP=")) continue;
            block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
        }
        ::FreeEnvironmentStringsW(strings);
    }
    for (const wchar_t* name : {L"TEMP=", L"TMP="}) {
        const std::wstring entry = name + folder;
        block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    block.push_back(L'\0');
    return block;
}

// The folder of this program's own file, where distribution systems put the
// content of a package; empty when it cannot be told.
std::wstring ProgramFolder() {
    std::vector<wchar_t> path(32768);
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return std::wstring();
    const std::wstring file(path.data(), length);
    const size_t slash = file.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : file.substr(0, slash);
}

// One fetch, check, start and wait of the installer; runs on a thread of its
// own while the main thread runs the waiter, so that a passive run's window
// stays up for all of it.
class InstallerRun {
public:
    InstallerRun(DownloadWaiter& waiter, const InstallerLaunch& launch) : waiter_(waiter), launch_(launch) {}

    static DWORD WINAPI Thread(void* parameter) {
        static_cast<InstallerRun*>(parameter)->Work();
        return 0;
    }

    void Work() {
        outcome_ = FetchCheckAndStart();
        waiter_.DownloadEnded();
    }

    InstallerOutcome outcome() const { return outcome_; }

private:
    InstallerOutcome FetchCheckAndStart() {
        // Built before the files, which are created with them.
        kv::SddlSecurityAttributes security(kStubTargetSddl, kv::SddlSecurityAttributes::Dacl::Protected);
        security_ = security.get();
        if (!folder_.Create()) return InstallerOutcome();
        if (!Fetch()) {
            RemoveFiles();
            return InstallerOutcome();
        }
        return StartAndWait();
    }

    bool Fetch() {
        const wchar_t* const kFunction = L"DownloadAndRunStub";
        const std::wstring& source = launch_.source;
        if (!source.empty()) {
            LogMessage(LogInfo, L"%s: Installer source: '%s'", kFunction, source.c_str());
            return QmtDownload::IsHttpUrl(source) ? Download(source.c_str()) : Copy(source, LogError);
        }
        const std::wstring folder = ProgramFolder();
        const std::wstring beside = folder + L"\\" + kInstallerFileName;
        if (!folder.empty() && QmtDownload::FileExists(beside.c_str())) {
            LogMessage(LogInfo, L"%s: Installer found beside the program: '%s'", kFunction, beside.c_str());
            if (Copy(beside, LogWarning)) return true;
            LogMessage(LogWarning, L"%s: The installer beside the program cannot be used, downloading it", kFunction);
            installer_.Discard();
        }
        return Download(kInstallerUrl);
    }

    // A file source is copied into the private folder and checked there;
    // nothing is started from where it was found.
    bool Copy(const std::wstring& source, int failureLevel) {
        const wchar_t* const kFunction = L"DownloadAndRunStub";
        if (!installer_.Create(security_, folder_.path())) return false;
        if (!installer_.CopyFrom(source, kInstallerMaxBytes)) {
            LogMessage(failureLevel, L"%s: The installer could not be copied from '%s'", kFunction, source.c_str());
            return false;
        }
        LogMessage(LogInfo, L"%s: Copied to '%s' successfully", kFunction, installer_.path().c_str());
        return Check(failureLevel);
    }

    bool Download(const wchar_t* url) {
        const wchar_t* const kFunction = L"DownloadAndRunStub";
        if (!installer_.Create(security_, folder_.path())) return false;
        LogMessage(LogInfo, L"%s: Download stub from '%s'", kFunction, url);
        std::unique_ptr<StubDownloadContext> context(new StubDownloadContext);
        context->event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!context->event) {
            LogMessage(LogError, L"%s: CreateEvent failed: %lu", kFunction, ::GetLastError());
            return false;
        }
        {
            QmtDownload::Downloader downloader(url, kStubStallLimitMs, kStubDownloadLimitMs);
            downloader.SetSizeLimit(kInstallerMaxBytes);
            downloader.StartFresh(installer_.path().c_str(), installer_.writeHandle(), DlCallback, context.get());
            // The engine's own limits keep this wait finite.
            ::WaitForSingleObject(context->event.get(), INFINITE);
        }
        const int result = context->result;
        if (result != QmtDownload::Success) {
            LogMessage(LogError, L"%s: Stub download failed: %s", kFunction,
                       QmtDownload::ResultName(static_cast<DWORD>(result)));
            return false;
        }
        LogMessage(LogInfo, L"%s: Downloaded to '%s' successfully", kFunction, installer_.path().c_str());
        return Check(LogError);
    }

    bool Check(int failureLevel) {
        const wchar_t* const kFunction = L"DownloadAndRunStub";
        if (!installer_.Hold()) return false;
        wchar_t errorText[kSignatureErrorChars] = {};
        if (!installer_.Verify(errorText)) {
            LogMessage(failureLevel, L"%s: Signature check failed %s: %s", kFunction, installer_.path().c_str(),
                       errorText);
            return false;
        }
        LogMessage(LogInfo, L"%s: Signature check OK", kFunction);
        return true;
    }

    InstallerOutcome StartAndWait() {
        const wchar_t* const kFunction = L"DownloadAndRunStub";
        InstallerOutcome outcome;
        kv::unique_handle process;
        if (!installer_.Run(launch_.arguments, folder_.path(), launch_.waitForEnd ? &process : nullptr)) {
            RemoveFiles();
            return outcome;
        }
        outcome.state = InstallerOutcome::Started;
        if (!launch_.waitForEnd) return outcome;
        // The folder stays held while the installer runs in it.
        if (::WaitForSingleObject(process.get(), kInstallerWaitLimitMs) != WAIT_OBJECT_0) {
            LogMessage(LogError, L"%s: The installer has not ended within %lu ms; it is left running", kFunction,
                       kInstallerWaitLimitMs);
            outcome.state = InstallerOutcome::StillRunning;
            return outcome;
        }
        ::GetExitCodeProcess(process.get(), &outcome.exitCode);
        outcome.state = InstallerOutcome::Ended;
        LogMessage(LogInfo, L"%s: The installer ended with exit code %lu", kFunction, outcome.exitCode);
        // Its files are no longer needed; a folder it left files in stays.
        RemoveFiles();
        return outcome;
    }

    // The installer file and the private folder, once nothing runs from them.
    void RemoveFiles() {
        installer_.Discard();
        folder_.Remove();
    }

    DownloadWaiter& waiter_;
    const InstallerLaunch& launch_;
    SECURITY_ATTRIBUTES* security_ = nullptr;
    InstallerFolder folder_;
    InstallerFile installer_;
    InstallerOutcome outcome_;
};

}  // namespace

bool RunStub(const wchar_t* path, const std::wstring& arguments, const std::wstring& folder,
             kv::unique_handle* process) {
    const wchar_t* const kFunction = L"RunStub";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    // The program's own path, quoted, comes first on its command line.
    std::wstring line = L"\"" + std::wstring(path) + L"\"";
    if (!arguments.empty()) line += L" " + arguments;
    std::vector<wchar_t> commandLine(line.begin(), line.end());
    commandLine.push_back(L'\0');
    std::vector<wchar_t> environment;
    if (!folder.empty()) environment = EnvironmentWithTemp(folder);
    const BOOL created = ::CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE,
                                          folder.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT,
                                          folder.empty() ? nullptr : environment.data(),
                                          folder.empty() ? nullptr : folder.c_str(), &startup, &started);
    const DWORD error = ::GetLastError();
    kv::unique_handle processHandle(started.hProcess);
    kv::unique_handle threadHandle(started.hThread);
    if (!created) {
        LogMessage(LogError, L"%s: CreateProcess failed: %lu", kFunction, error);
        return false;
    }
    LogMessage(LogInfo, L"%s: Stub launched successfully", kFunction);
    if (process != nullptr) *process = std::move(processHandle);
    return true;
}

std::wstring DownloadUrlOf(const InstallerLaunch& launch) {
    return QmtDownload::IsHttpUrl(launch.source) ? launch.source : std::wstring(kInstallerUrl);
}

InstallerOutcome DownloadAndRunStub(DownloadWaiter& waiter, const InstallerLaunch& launch) {
    const wchar_t* const kFunction = L"DownloadAndRunStub";
    InstallerRun run(waiter, launch);
    kv::unique_handle thread(::CreateThread(nullptr, 0, &InstallerRun::Thread, &run, 0, nullptr));
    if (!thread) {
        LogMessage(LogWarning, L"%s: CreateThread failed: %lu; working without the waiter", kFunction,
                   ::GetLastError());
        run.Work();
    }
    // The waiter returns once the run has told it that it is done; should it
    // return earlier, the wait below lasts until then, which the download's
    // limits and the installer's wait limit keep finite.
    waiter.WaitForDownload();
    if (thread) ::WaitForSingleObject(thread.get(), INFINITE);
    return run.outcome();
}

bool DownloadAndRunStub(DownloadWaiter& waiter) {
    return DownloadAndRunStub(waiter, InstallerLaunch()).state != InstallerOutcome::NotStarted;
}
