#pragma once
// Owned WinINet handles (sessions, connections, requests).
#include <windows.h>
#include <wininet.h>

#include "common/UniqueHandle.h"

namespace QmtDownload {

struct InternetHandleTraits {
    using pointer = HINTERNET;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::InternetCloseHandle(h); }
};

using unique_hinternet = kv::unique_any<InternetHandleTraits>;

}  // namespace QmtDownload
