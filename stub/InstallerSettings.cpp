// What is chosen when the program is built: where the installer comes from,
// how long its download may take, how large it may be and how long an
// unattended run waits for it. Alone in this file so that a build
// for tests can link other values in its place.
#include "stub/StubInstaller.h"

#define KV_WIDEN2(text) L##text
#define KV_WIDEN(text) KV_WIDEN2(text)

#ifndef KV_INSTALLER_URL
#define KV_INSTALLER_URL "http://download.k-vantor.com/NX/Retail/installer/2/K-VantorNetworkInstaller.exe"
#endif
#ifndef KV_STUB_STALL_LIMIT_MS
#define KV_STUB_STALL_LIMIT_MS 60000
#endif
#ifndef KV_INSTALLER_MAX_BYTES
#define KV_INSTALLER_MAX_BYTES (64ul * 1024 * 1024)
#endif
#ifndef KV_INSTALLER_WAIT_LIMIT_MS
#define KV_INSTALLER_WAIT_LIMIT_MS (2ul * 60 * 60 * 1000)
#endif
#ifndef KV_STUB_DOWNLOAD_LIMIT_MS
#define KV_STUB_DOWNLOAD_LIMIT_MS (30 * 60 * 1000)
#endif

const wchar_t kInstallerUrl[] = KV_WIDEN(KV_INSTALLER_URL);
const unsigned long kStubStallLimitMs = KV_STUB_STALL_LIMIT_MS;
const unsigned long kStubDownloadLimitMs = KV_STUB_DOWNLOAD_LIMIT_MS;
const unsigned long kInstallerMaxBytes = KV_INSTALLER_MAX_BYTES;
const unsigned long kInstallerWaitLimitMs = KV_INSTALLER_WAIT_LIMIT_MS;
