#pragma once
// The fresh-install road's last steps: download the maker's network installer
// while the DownloadWaiter the application hands in runs (its please-wait
// window, or no window at all in a quiet run), check that its Authenticode
// signer is the maker, and start it without waiting for it.
#include <windows.h>

#include <cstddef>
#include <string>

#include "common/SignerCheck.h"
#include "common/UniqueHandle.h"
#include "stub/DownloadWaiter.h"

// By default http://download.k-vantor.com/NX/Retail/installer/2/K-VantorNetworkInstaller.exe;
// the whole URL is chosen when the program is built (KV_INSTALLER_URL).
extern const wchar_t kInstallerUrl[];

// The installer download ends as a failure when nothing arrives for this
// long (each attempt), and when the whole download, retries included, has
// taken this long: the please-wait window, which the user cannot close,
// always ends.
extern const unsigned long kStubStallLimitMs;
extern const unsigned long kStubDownloadLimitMs;

// What the download's callback hands back to DownloadAndRunStub.
struct StubDownloadContext {
    int result = 0;  // the DownloadResult, stored before the event is set
    DownloadWaiter* waiter = nullptr;  // told when the download has ended
    kv::unique_handle event;  // manual reset, set once the download has ended
};

// Downloads the installer while the waiter runs (the please-wait window, or
// nothing visible), verifies its signer and starts it. True only when all
// three succeeded.
bool DownloadAndRunStub(DownloadWaiter& waiter);

// The download engine's callback; context is a StubDownloadContext.
void DlCallback(void* context, DWORD kind, DWORD first, DWORD second);

const size_t kSignatureErrorChars = kv::kSignerErrorChars;

// True when the file's signature is valid and a primary signer's certificate
// names exactly the maker (kv::VerifyMakerSignature). Otherwise false with
// the reason in errorText (kSignatureErrorChars units).
bool VerifyStubSignature(const wchar_t* path, wchar_t* errorText);
// The same, reading the file through an open handle (read access).
bool VerifyStubSignature(const wchar_t* path, HANDLE file, wchar_t* errorText);

// Starts the file as a new process and returns without waiting for it.
bool RunStub(const wchar_t* path);

// A fresh "<temp>\kvcXXXX.tmp" made on disk, with ".exe" appended; false when
// no temporary name could be made.
bool MakeStubTargetName(std::wstring& target);

// The access list of the downloaded installer and its metafile: no access for
// anonymous, network and local-service logons, read and execute for guests
// and users, full access for administrators and the system; nothing inherited.
extern const wchar_t kStubTargetSddl[];
