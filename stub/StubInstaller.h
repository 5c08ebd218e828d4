#pragma once
// The fresh-install road's last steps: fetch the maker's network installer
// (from an explicit source, from beside this program, or from the maker's
// server) into a private folder while the DownloadWaiter the application
// hands in runs (its please-wait window, or no window at all in a quiet
// run), check that its Authenticode signer is the maker, start it, and in an
// unattended run wait for its end.
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

// A body (or a copied file) larger than this is refused: no installer is so
// large, and the disk is not filled up to 4 GiB.
extern const unsigned long kInstallerMaxBytes;
// How long an unattended run waits for the installer to end.
extern const unsigned long kInstallerWaitLimitMs;
// The installer's file name, as distribution systems put it beside this program.
extern const wchar_t kInstallerFileName[];

// What the application asks of the installer's start.
struct InstallerLaunch {
    // A local or UNC path of the file, or an http(s) URL; empty: the file
    // beside this program when there is one, else the maker's server. An
    // explicit source that fails ends the run: nothing else is tried.
    std::wstring source;
    std::wstring arguments;  // the installer's command-line arguments
    bool waitForEnd = false;  // an unattended run's outcome is the installer's
};

// The URL a download of this launch would fetch: its source when that is an
// http(s) URL, else the maker's. The proxy is resolved for it.
std::wstring DownloadUrlOf(const InstallerLaunch& launch);

struct InstallerOutcome {
    enum State {
        NotStarted,    // not fetched, not verified or not started
        Started,       // started, not waited for
        Ended,         // started and ended with exitCode
        StillRunning,  // started, and still running when the wait ran out
    };
    State state = NotStarted;
    DWORD exitCode = 0;
};

// What the download's callback hands back to DownloadAndRunStub.
struct StubDownloadContext {
    int result = 0;  // the DownloadResult, stored before the event is set
    DownloadWaiter* waiter = nullptr;  // told when the download has ended
    kv::unique_handle event;  // manual reset, set once the download has ended
};

// Fetches the installer into a private folder while the waiter runs (the
// please-wait window, or nothing visible), verifies its signer, starts it and,
// when asked, waits for its end; the waiter is told once all that is done.
// Whatever failed before the start leaves neither file nor folder behind.
InstallerOutcome DownloadAndRunStub(DownloadWaiter& waiter, const InstallerLaunch& launch);
// The same with no arguments, no wait and no explicit source: true when the
// installer was started.
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

// Starts the file as a new process and returns without waiting for it. The
// arguments follow the quoted path on its command line; a folder given is its
// current directory and its TEMP and TMP. The process handle goes to process
// when that is given.
bool RunStub(const wchar_t* path, const std::wstring& arguments = std::wstring(),
             const std::wstring& folder = std::wstring(), kv::unique_handle* process = nullptr);

// A fresh "<temp>\kvcXXXX.tmp" (or the same in folder) made on disk, with
// ".exe" appended; false when no temporary name could be made.
bool MakeStubTargetName(std::wstring& target);
bool MakeStubTargetName(const std::wstring& folder, std::wstring& target);

// The access list of the downloaded installer and its metafile: no access for
// anonymous, network and local-service logons, read and execute for guests
// and users, full access for administrators and the system; nothing inherited.
extern const wchar_t kStubTargetSddl[];
