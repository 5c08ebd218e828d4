#pragma once
// Owned WinINet handles (sessions, connections, requests).
#include <windows.h>
#include <wininet.h>

#include "common/UniqueHandle.h"

namespace kv::traits {
struct InternetHandle {
    using pointer = HINTERNET;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::InternetCloseHandle(h); }
};
}  // namespace kv::traits

namespace QmtDownload {

using unique_hinternet = kv::unique_any<kv::traits::InternetHandle>;

}  // namespace QmtDownload
