#include "download/QmtDownloadInstance.h"

#include <cstdlib>

#include "download/Win32ErrorText.h"
#include "log/KvQmtLog.h"
#include "log/LoggerConfig.h"

namespace QmtDownload {

namespace {

const wchar_t kUserAgent[] = L"KvQmtDownload";

}  // namespace

QmtDownloadInstance::QmtDownloadInstance() {
    summaryLog_.Configure(KvQmtLogging::LogFlagQuietMarkers | KvQmtLogging::LogFlagDeferOpen, L"QMT",
                          L"downloaded_files");
}

QmtDownloadInstance& QmtDownloadInstance::Get() { return kv::ProcessWide<QmtDownloadInstance>::Get(); }

HINTERNET QmtDownloadInstance::GetHandle() {
    const wchar_t* const kFunction = L"QmtDownload::QmtDownloadInstance::GetHandle";
    kv::CriticalSectionHold hold(lock_);
    if (!session_) {
        session_.reset(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                       INTERNET_FLAG_ASYNC));
        if (!session_) {
            KvQmtLogging::LogMessage(KvQmtLogging::LogFatal, L"%s: Failed to initialize WinInet: %s", kFunction,
                                     FormatWin32Error(::GetLastError()).c_str());
        }
    }
    return session_.get();
}

HINTERNET QmtDownloadInstance::GetProxyHandle() {
    const wchar_t* const kFunction = L"QmtDownload::QmtDownloadInstance::GetProxyHandle";
    kv::CriticalSectionHold hold(lock_);
    if (proxy_ && !proxySession_) {
        proxySession_.reset(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PROXY, proxy_->c_str(), nullptr,
                                            INTERNET_FLAG_ASYNC));
        if (!proxySession_) {
            KvQmtLogging::LogMessage(KvQmtLogging::LogFatal, L"%s: Failed to initialize WinInet (proxy '%s'): %s",
                                     kFunction, proxy_->c_str(),
                                     FormatWin32Error(::GetLastError()).c_str());
        }
    }
    return proxySession_.get();
}

void QmtDownloadInstance::SetProxy(const wchar_t* proxy) {
    const wchar_t* const kFunction = L"QmtDownload::QmtDownloadInstance::SetProxy";
    const bool clear = proxy == nullptr || *proxy == L'\0';
    KvQmtLogging::LogMessage(KvQmtLogging::LogInfo, L"%s: Setting proxy to '%s'",
                             kFunction, clear ? L"<disabled>" : proxy);
    kv::CriticalSectionHold hold(lock_);
    proxy_ = clear ? nullptr : std::make_unique<std::wstring>(proxy);
    proxySession_.reset();
}

bool QmtDownloadInstance::HasProxy() {
    kv::CriticalSectionHold hold(lock_);
    return proxy_ != nullptr;
}

void SetDownloadProxy(const wchar_t* proxy) { QmtDownloadInstance::Get().SetProxy(proxy); }

}  // namespace QmtDownload
