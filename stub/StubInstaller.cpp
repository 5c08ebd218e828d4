#include "stub/StubInstaller.h"

#include <memory>

#include "common/SddlSecurityAttributes.h"
#include "download/DownloadCallback.h"
#include "download/Downloader.h"
#include "download/DownloadResult.h"
#include "log/KvQmtLog.h"
#include "stub/InstallerFile.h"

using KvQmtLogging::LogDebug;
using KvQmtLogging::LogError;
using KvQmtLogging::LogInfo;
using KvQmtLogging::LogMessage;

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

bool MakeStubTargetName(std::wstring& target) {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) return false;
    wchar_t name[MAX_PATH] = {};
    if (::GetTempFileNameW(folder, L"kvc", 0, name) == 0) return false;
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

bool RunStub(const wchar_t* path) {
    const wchar_t* const kFunction = L"RunStub";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    const BOOL started =
        ::CreateProcessW(path, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    const DWORD error = ::GetLastError();
    // The installer runs on its own; only the handles to it are given up.
    kv::unique_handle processHandle(process.hProcess);
    kv::unique_handle threadHandle(process.hThread);
    if (!started) {
        LogMessage(LogError, L"%s: CreateProcess failed: %lu", kFunction, error);
        return false;
    }
    LogMessage(LogInfo, L"%s: Stub launched successfully", kFunction);
    return true;
}

bool DownloadAndRunStub(DownloadWaiter& waiter) {
    const wchar_t* const kFunction = L"DownloadAndRunStub";
    // Built before the target, which is created with them. Without them the
    // download runs with the default security of the temporary folder.
    kv::SddlSecurityAttributes security(kStubTargetSddl, kv::SddlSecurityAttributes::Dacl::Protected);

    InstallerFile installer;
    if (!installer.Create(security.get())) return false;
    LogMessage(LogInfo, L"%s: Download stub from '%s'", kFunction, kInstallerUrl);

    std::unique_ptr<StubDownloadContext> context(new StubDownloadContext);
    context->waiter = &waiter;
    context->event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!context->event) {
        LogMessage(LogError, L"%s: CreateEvent failed: %lu", kFunction, ::GetLastError());
        return false;
    }

    int result = 0;
    {
        QmtDownload::Downloader downloader(kInstallerUrl, kStubStallLimitMs, kStubDownloadLimitMs);
        downloader.StartFresh(installer.path().c_str(), installer.writeHandle(), DlCallback, context.get());
        // The waiter returns once the callback has told it the download
        // ended; should it return earlier, the wait below lasts until then,
        // which the engine's own limits keep finite.
        waiter.WaitForDownload();
        ::WaitForSingleObject(context->event.get(), INFINITE);
    }
    result = context->result;
    context.reset();

    if (result != QmtDownload::Success) {
        LogMessage(LogError, L"%s: Stub download failed: %s", kFunction, QmtDownload::ResultName(static_cast<DWORD>(result)));
        return false;
    }
    LogMessage(LogInfo, L"%s: Downloaded to '%s' successfully", kFunction, installer.path().c_str());
    if (!installer.Hold()) return false;

    wchar_t errorText[kSignatureErrorChars] = {};
    if (!installer.Verify(errorText)) {
        LogMessage(LogError, L"%s: Signature check failed %s: %s", kFunction, installer.path().c_str(), errorText);
        return false;
    }
    LogMessage(LogInfo, L"%s: Signature check OK", kFunction);
    return installer.Run();
}
