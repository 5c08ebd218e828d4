#include "stub/WinHttpProxy.h"

#include <winhttp.h>

#include <cwctype>
#include <memory>
#include <thread>

#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogInfo;
using KvQmtLogging::LogMessage;
using KvQmtLogging::LogWarning;
using QmtDownload::ProxyRoute;
using QmtDownload::RouteList;
using QmtDownload::RouteOrigin;

namespace kv::traits {
struct WinHttpHandle {
    using pointer = HINTERNET;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::WinHttpCloseHandle(h); }
};
}  // namespace kv::traits

namespace WinHttpProxy {

namespace {

using unique_winhttp = kv::unique_any<kv::traits::WinHttpHandle>;

// A script that answers with more is cut here: each way may cost a time-out.
const size_t kMaxAnswerRoutes = 8;

// Strings WinHTTP hands out, given back with GlobalFree.
std::wstring TakeGlobalText(LPWSTR text) {
    std::wstring copy = text != nullptr ? text : L"";
    if (text != nullptr) ::GlobalFree(text);
    return copy;
}

bool HasHttpScheme(const std::wstring& url) {
    return ::_wcsnicmp(url.c_str(), L"http://", 7) == 0 || ::_wcsnicmp(url.c_str(), L"https://", 8) == 0;
}

// What the worker and its caller share: the caller may stop waiting and go,
// the worker finishes on its own copy.
struct Resolution {
    std::wstring url;
    std::wstring scriptUrl;
    bool autoDetect = false;
    bool machineLogon = false;
    DWORD limitMs = 0;
    kv::unique_handle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD error = ERROR_SUCCESS;
    bool direct = false;
    std::wstring answer;
};

void RunResolution(const std::shared_ptr<Resolution>& job) {
    unique_winhttp session(::WinHttpOpen(L"KvQmtDownload", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        job->error = ::GetLastError();
        return;
    }
    const int limit = static_cast<int>(job->limitMs);
    ::WinHttpSetTimeouts(session.get(), limit, limit, limit, limit);
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (job->autoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!job->scriptUrl.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = job->scriptUrl.c_str();
    }
    // A user's script server gets no logon of this machine either.
    options.fAutoLogonIfChallenged = job->machineLogon ? TRUE : FALSE;
    WINHTTP_PROXY_INFO info = {};
    if (!::WinHttpGetProxyForUrl(session.get(), job->url.c_str(), &options, &info)) {
        job->error = ::GetLastError();
        return;
    }
    job->answer = TakeGlobalText(info.lpszProxy);
    TakeGlobalText(info.lpszProxyBypass);
    job->direct = info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || job->answer.empty();
}

std::wstring Trim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

bool StartsWithWord(const std::wstring& text, const wchar_t* word) {
    const size_t length = ::wcslen(word);
    return text.size() > length && ::_wcsnicmp(text.c_str(), word, length) == 0 && std::iswspace(text[length]);
}

}  // namespace

RouteList RoutesFromAnswer(const std::wstring& answer, RouteOrigin origin) {
    RouteList routes;
    size_t start = 0;
    while (start <= answer.size() && routes.size() < kMaxAnswerRoutes) {
        size_t end = answer.find(L';', start);
        if (end == std::wstring::npos) end = answer.size();
        std::wstring item = Trim(answer.substr(start, end - start));
        start = end + 1;
        if (item.empty()) continue;
        if (::_wcsicmp(item.c_str(), L"DIRECT") == 0) {
            routes.push_back(ProxyRoute{origin, std::wstring()});
            continue;
        }
        // SOCKS and the other kinds are not ways WinINet takes by this form.
        if (StartsWithWord(item, L"PROXY") || StartsWithWord(item, L"HTTP")) {
            item = Trim(item.substr(item.find_first_of(L" \t")));
        } else if (item.find_first_of(L" \t") != std::wstring::npos) {
            continue;
        }
        if (::_wcsnicmp(item.c_str(), L"http://", 7) == 0) item.erase(0, 7);
        if (!item.empty()) routes.push_back(ProxyRoute{origin, item});
    }
    return routes;
}

namespace {

// One question to WinHTTP: the script at scriptUrl, or detection when it is
// empty. Asked separately, because some platforms give up on the script
// once detection has found nothing.
RouteList ResolveOne(const std::wstring& url, const std::wstring& scriptUrl, RouteOrigin origin, DWORD limitMs) {
    const wchar_t* const kFunction = L"WinHttpProxy::Resolve";
    auto job = std::make_shared<Resolution>();
    if (!job->done) return RouteList();
    job->url = url;
    job->scriptUrl = scriptUrl;
    job->autoDetect = scriptUrl.empty();
    job->machineLogon = origin == RouteOrigin::Policy;
    job->limitMs = limitMs;
    const wchar_t* what = scriptUrl.empty() ? L"automatic detection" : scriptUrl.c_str();
    // A script may loop, and detection may wait on the network: the answer
    // is awaited for a time, and a late one is left to its thread.
    try {
        std::thread([job] {
            RunResolution(job);
            ::SetEvent(job->done.get());
        }).detach();
    } catch (const std::exception&) {
        LogMessage(LogWarning, L"%s: No thread to resolve '%s'", kFunction, what);
        return RouteList();
    }
    if (::WaitForSingleObject(job->done.get(), limitMs) != WAIT_OBJECT_0) {
        LogMessage(LogWarning, L"%s: '%s' gave no answer within %lu ms; skipped", kFunction, what, limitMs);
        return RouteList();
    }
    if (job->error != ERROR_SUCCESS) {
        LogMessage(LogWarning, L"%s: '%s' gave no proxy for '%s': error %lu; skipped", kFunction, what, url.c_str(),
                   job->error);
        return RouteList();
    }
    LogMessage(LogInfo, L"%s: '%s' answers '%s' for '%s'", kFunction, what,
               job->direct ? L"DIRECT" : job->answer.c_str(), url.c_str());
    return job->direct ? RouteList{ProxyRoute{origin, std::wstring()}} : RoutesFromAnswer(job->answer, origin);
}

}  // namespace

RouteList Resolve(const std::wstring& url, const std::wstring& scriptUrl, bool autoDetect, RouteOrigin origin,
                  DWORD limitMs) {
    const wchar_t* const kFunction = L"WinHttpProxy::Resolve";
    RouteList routes;
    if (autoDetect) routes = ResolveOne(url, std::wstring(), origin, limitMs);
    if (!routes.empty() || scriptUrl.empty()) return routes;
    if (!HasHttpScheme(scriptUrl)) {
        LogMessage(LogWarning, L"%s: Configuration script '%s' is not an http or https URL; ignored", kFunction,
                   scriptUrl.c_str());
        return routes;
    }
    return ResolveOne(url, scriptUrl, origin, limitMs);
}

bool MachineDefault(std::wstring& proxy, std::wstring& bypass) {
    const wchar_t* const kFunction = L"WinHttpProxy::MachineDefault";
    WINHTTP_PROXY_INFO info = {};
    if (!::WinHttpGetDefaultProxyConfiguration(&info)) {
        LogMessage(LogWarning, L"%s: WinHttpGetDefaultProxyConfiguration failed: %lu", kFunction, ::GetLastError());
        return false;
    }
    const std::wstring named = TakeGlobalText(info.lpszProxy);
    const std::wstring skipped = TakeGlobalText(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || named.empty()) return false;
    proxy = named;
    bypass = skipped;
    LogMessage(LogInfo, L"%s: Machine WinHTTP proxy '%s', bypass '%s'", kFunction, proxy.c_str(), bypass.c_str());
    return true;
}

}  // namespace WinHttpProxy
